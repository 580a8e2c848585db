#pragma once

class QString;
class QWidget;

// Text that Skyvane did not write (a stream title, a URL, a name from the list
// file, a script's message) is never read as markup. Qt guesses rich text in
// labels, tooltips and message boxes, and a station's title such as
// `<img src="/dev/zero">` would then be loaded by the window. Every such
// surface goes through here.
namespace PlainText {

// Makes every label inside the widget show its text exactly as given, so a
// label added to a form later is plain too.
void enforce(QWidget *root);

// A tooltip that shows the text exactly as given (tooltips have no format of
// their own: the text is escaped instead).
QString toolTip(const QString &text);

} // namespace PlainText
