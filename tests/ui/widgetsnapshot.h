#pragma once

#include <QtWidgets>

// A widget tree written out as a user meets it, a control a line with what it
// shows and how it behaves, then the order Tab goes through. Compared with a
// file kept beside the tests, it shows any change to what the window offers.
namespace WidgetSnapshot {

inline QString describe(const QObject *object)
{
    // Shown where a widget has them and they are not what most widgets have.
    static const char *const shown[] = {"text",
                                        "title",
                                        "placeholderText",
                                        "toolTip",
                                        "checked",
                                        "wordWrap",
                                        "textFormat",
                                        "readOnly",
                                        "editTriggers",
                                        "selectionMode",
                                        "minimum",
                                        "maximum",
                                        "singleStep",
                                        "specialValueText",
                                        "suffix",
                                        "clearButtonEnabled",
                                        "editable",
                                        "contextMenuPolicy",
                                        "shortcut",
                                        "enabled"};
    static const QStringList usual{QStringLiteral("false"), QStringLiteral("DefaultContextMenu"),
                                   QStringLiteral("AutoText")};
    QString line =
        QString::fromLatin1(object->metaObject()->className()) + u'#' + object->objectName();
    for (const char *name : shown) {
        QString value = object->property(name).toString();
        if (name == std::string_view("enabled"))
            value = value == u"false" ? QStringLiteral("no") : QString();
        if (!value.isEmpty() && !usual.contains(value))
            line += u' ' + QString::fromLatin1(name) + u'=' + value.replace(u'\n', u'|');
    }
    if (const auto *widget = qobject_cast<const QWidget *>(object); widget && widget->isHidden())
        line += QStringLiteral(" hidden");
    if (const auto *label = qobject_cast<const QLabel *>(object); label && label->buddy())
        line += QStringLiteral(" buddy=") + label->buddy()->objectName();
    if (const auto *box = qobject_cast<const QComboBox *>(object)) {
        for (int i = 0; i < box->count(); ++i)
            line += (i ? u'|' : u' ') + box->itemText(i);
    }
    if (const auto *view = qobject_cast<const QTableView *>(object); view && view->model()) {
        for (int c = 0; c < view->model()->columnCount(); ++c)
            line += (c ? u'|' : u' ') + view->model()->headerData(c, Qt::Horizontal).toString();
    }
    return line;
}

// The controls and actions under `w`, not the inner parts of a control;
// Qt's own containers ("qt_...") are passed through.
inline void write(const QWidget *w, int depth, QString &out)
{
    const bool inner = w->objectName().startsWith(QStringLiteral("qt_"));
    if (qobject_cast<const QScrollBar *>(w))
        return;
    if (!inner) {
        out += QString(depth * 2, u' ') + describe(w) + u'\n';
        for (const QAction *action : w->actions())
            out += QString(depth * 2 + 2, u' ') + describe(action) + u'\n';
    }
    if (qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w) ||
        qobject_cast<const QComboBox *>(w) || qobject_cast<const QAbstractSpinBox *>(w) ||
        qobject_cast<const QAbstractItemView *>(w))
        return;
    for (const QWidget *child : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            write(child, inner ? depth : depth + 1, out);
    }
}

inline QString of(const QWidget *root)
{
    QString out;
    write(root, 0, out);
    out += QStringLiteral("tab order:");
    for (const QWidget *w = root->nextInFocusChain(); w != root; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(root) &&
            !w->objectName().isEmpty() && !w->objectName().startsWith(u"qt_"))
            out += u' ' + w->objectName();
    }
    return out + u'\n';
}

// Compares with tests/ui/snapshots/<name>.txt, or writes it there when
// SKYVANE_UPDATE_SNAPSHOTS is set. What differs goes to a ".actual" file.
inline bool matches(const QString &shown, const QString &name)
{
    QFile kept(QStringLiteral(QT_TESTCASE_SOURCEDIR "/snapshots/%1.txt").arg(name));
    if (qEnvironmentVariableIsSet("SKYVANE_UPDATE_SNAPSHOTS"))
        return kept.open(QIODevice::WriteOnly) && kept.write(shown.toUtf8()) > 0;
    if (kept.open(QIODevice::ReadOnly) && QString::fromUtf8(kept.readAll()) == shown)
        return true;
    QFile actual(QDir::temp().filePath(name + QStringLiteral(".actual")));
    if (actual.open(QIODevice::WriteOnly))
        actual.write(shown.toUtf8());
    qWarning("%s differs from %s", qPrintable(actual.fileName()), qPrintable(kept.fileName()));
    return false;
}

} // namespace WidgetSnapshot
