#pragma once

// skyvane --set-web-password: reads the web page's password from one line of
// standard input (unechoed at a terminal), so that it is in no command line
// nor shell history, and stores its hash. The process's exit code.
int runSetWebPassword();
