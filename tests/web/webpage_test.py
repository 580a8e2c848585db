"""The web page in a real browser (Debian's Chromium, through its WebDriver)
against a real headless Skyvane in a scratch home: log in, see the
recordings, add one through the form and find it in the list file."""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    sys.exit(SKIP)
if not (os.path.exists("/usr/bin/chromium") and os.path.exists("/usr/bin/chromedriver")):
    sys.exit(SKIP)

SKYVANE = sys.argv[1]
PASSWORD = "a page password"
HOSTILE = "<img src=x onerror=document.title='pwned'> Morning"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=420,900"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def names(driver):
    return [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#recordings .recording .name")]


def main():
    home = tempfile.mkdtemp(prefix="skyvane-webpage-")
    try:
        check(home)
    finally:
        shutil.rmtree(home, ignore_errors=True)


def check(home):
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data", XDG_CONFIG_HOME=home + "/config",
               XDG_CACHE_HOME=home + "/cache", XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen",
               DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + home + "/no-bus")
    run = lambda *args, **kw: subprocess.run([SKYVANE, *args], env=env, check=True, timeout=30, **kw)
    run("--set-web-password", input=PASSWORD + "\n", text=True)
    run("--add", HOSTILE, "http://127.0.0.1:9/live", "--at", "06:00", "--for", "30")
    port = free_port()
    server = subprocess.Popen([SKYVANE, "--headless", "--web-ui", str(port)], env=env,
                              stdout=subprocess.PIPE, text=True)
    driver = None
    try:
        assert "The web page is at" in server.stdout.readline()
        driver = browser()
        wait = WebDriverWait(driver, 20)
        driver.get("http://127.0.0.1:%d/" % port)
        wait.until(lambda d: d.find_element(By.ID, "password").is_displayed())
        driver.find_element(By.ID, "password").send_keys(PASSWORD)
        driver.find_element(By.ID, "login-button").click()
        # Shown as text, never as markup.
        wait.until(lambda d: names(d) == [HOSTILE])
        assert driver.title != "pwned"

        driver.find_element(By.ID, "new").click()
        editor = driver.find_element(By.ID, "editor")
        wait.until(lambda d: editor.is_displayed())
        field = lambda name: editor.find_element(By.NAME, name)
        field("name").clear()
        field("name").send_keys("Evening Jazz")
        field("url").clear()
        field("url").send_keys("http://127.0.0.1:9/jazz")
        driver.execute_script("arguments[0].value = '19:30';", field("startTime"))
        field("durationHours").clear()
        field("durationHours").send_keys("1")
        field("durationMinutes").clear()
        field("durationMinutes").send_keys("15")
        editor.find_element(By.CSS_SELECTOR, "label[for=day4]").click()
        driver.find_element(By.ID, "save").click()
        wait.until(lambda d: names(d) == [HOSTILE, "Evening Jazz"])
        if os.environ.get("SKYVANE_SCREENSHOT"):
            driver.save_screenshot(os.environ["SKYVANE_SCREENSHOT"])
    finally:
        if driver:
            driver.quit()
        server.send_signal(signal.SIGTERM)
        server.wait(30)

    with open(home + "/data/Skyvane.reclist", encoding="utf-8") as stored:
        added = [r for r in json.load(stored) if r["name"] == "Evening Jazz"]
    assert len(added) == 1, added
    assert added[0]["url"] == "http://127.0.0.1:9/jazz", added
    assert (added[0]["startTime"], added[0]["duration"]) == (19 * 60 + 30, 75), added
    assert added[0]["days"] == [0, 0, 0, 0, 1, 0, 0], added
    print("the page logged in, listed, added and stored a recording")


if __name__ == "__main__":
    main()
