#pragma once

#include <QtWidgets>

// A widget tree written out as a user meets it: each control in layout order
// with what it shows (text, placeholder, tooltip, shortcut, range, enabling),
// then the order Tab goes through. Compared with a file kept beside the
// tests, it shows any change to what the window offers, one line each.
class WidgetSnapshot
{
public:
    static QString of(const QWidget *root)
    {
        WidgetSnapshot snapshot;
        snapshot.widget(root, 0);
        snapshot.m_out += QStringLiteral("tab order:");
        const QWidget *w = root;
        for (int i = 0; i < 500 && (w = w->nextInFocusChain()) != root; ++i) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(root) &&
                !w->objectName().isEmpty() && !w->objectName().startsWith(QStringLiteral("qt_")))
                snapshot.m_out += u' ' + w->objectName();
        }
        return snapshot.m_out + u'\n';
    }

    // Compares with tests/ui/snapshots/<name>.txt; with SKYVANE_UPDATE_SNAPSHOTS
    // set, writes it instead. What differs goes to a ".actual" file beside it.
    static bool matches(const QString &shown, const QString &name)
    {
        const QString path =
            QStringLiteral(QT_TESTCASE_SOURCEDIR "/snapshots/") + name + QStringLiteral(".txt");
        QFile file(path);
        if (qEnvironmentVariableIsSet("SKYVANE_UPDATE_SNAPSHOTS")) {
            return file.open(QIODevice::WriteOnly) && file.write(shown.toUtf8()) > 0;
        }
        if (file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.readAll()) == shown)
            return true;
        QFile actual(QDir::temp().filePath(name + QStringLiteral(".actual")));
        if (actual.open(QIODevice::WriteOnly))
            actual.write(shown.toUtf8());
        qWarning("%s differs from %s", qPrintable(actual.fileName()), qPrintable(path));
        return false;
    }

private:
    QString m_out;
    QSet<const QWidget *> m_done;

    void widget(const QWidget *w, int depth)
    {
        if (m_done.contains(w) || w->objectName().startsWith(QStringLiteral("qt_")))
            return;
        m_done.insert(w);
        m_out += QString(depth * 2, u' ') + QString::fromLatin1(w->metaObject()->className());
        if (!w->objectName().isEmpty())
            m_out += u'#' + w->objectName();
        m_out += describe(w) + u'\n';
        for (const QAction *action : w->actions())
            m_out +=
                QString(depth * 2 + 2, u' ') + QStringLiteral("action ") + describe(action) + u'\n';
        if (isLeaf(w))
            return;
        if (const auto *area = qobject_cast<const QScrollArea *>(w); area && area->widget())
            widget(area->widget(), depth + 1);
        if (w->layout())
            layout(w->layout(), depth + 1);
        for (const QObject *child : w->children()) {
            const auto *sub = qobject_cast<const QWidget *>(child);
            if (sub && !sub->isWindow())
                widget(sub, depth + 1);
        }
    }

    void layout(const QLayout *l, int depth)
    {
        for (int i = 0; i < l->count(); ++i) {
            QLayoutItem *item = l->itemAt(i);
            if (item->widget())
                widget(item->widget(), depth);
            else if (item->layout())
                layout(item->layout(), depth);
        }
    }

    static bool isLeaf(const QWidget *w)
    {
        return qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w) ||
               qobject_cast<const QAbstractSpinBox *>(w) || qobject_cast<const QComboBox *>(w) ||
               qobject_cast<const QAbstractItemView *>(w) || qobject_cast<const QLabel *>(w) ||
               qobject_cast<const QPlainTextEdit *>(w) || qobject_cast<const QTextEdit *>(w) ||
               qobject_cast<const QProgressBar *>(w);
    }

    static QString describe(const QAction *action)
    {
        QString s = quoted(action->isSeparator() ? QStringLiteral("-") : action->text());
        if (!action->objectName().isEmpty())
            s += QStringLiteral(" #") + action->objectName();
        if (!action->shortcut().isEmpty())
            s += QStringLiteral(" keys=") + action->shortcut().toString();
        if (action->isCheckable())
            s += action->isChecked() ? QStringLiteral(" checked") : QStringLiteral(" unchecked");
        if (!action->isEnabled())
            s += QStringLiteral(" disabled");
        return s;
    }

    static QString quoted(const QString &text)
    {
        return u'"' + QString(text).replace(u'\n', QStringLiteral("\\n")) + u'"';
    }

    static QString describe(const QWidget *w)
    {
        QStringList s;
        const auto add = [&s](const char *name, const QString &value) {
            if (!value.isEmpty())
                s.append(QString::fromLatin1(name) + u'=' + quoted(value));
        };
        if (const auto *b = qobject_cast<const QAbstractButton *>(w)) {
            add("text", b->text());
            if (!b->shortcut().isEmpty())
                add("keys", b->shortcut().toString());
            if (b->isCheckable())
                s.append(b->isChecked() ? QStringLiteral("checked") : QStringLiteral("unchecked"));
        } else if (const auto *l = qobject_cast<const QLabel *>(w)) {
            add("text", l->text());
            if (l->buddy())
                add("buddy", l->buddy()->objectName());
            if (l->wordWrap())
                s.append(QStringLiteral("wrap"));
            if (l->textFormat() != Qt::AutoText)
                s.append(QStringLiteral("format=") + QString::number(l->textFormat()));
            if (l->alignment() != (Qt::AlignLeft | Qt::AlignVCenter))
                s.append(QStringLiteral("align=") + QString::number(l->alignment()));
        } else if (const auto *e = qobject_cast<const QLineEdit *>(w)) {
            add("placeholder", e->placeholderText());
            if (e->isClearButtonEnabled())
                s.append(QStringLiteral("clear"));
            if (e->isReadOnly())
                s.append(QStringLiteral("read-only"));
        } else if (const auto *spin = qobject_cast<const QSpinBox *>(w)) {
            s.append(QStringLiteral("range=%1..%2 step=%3")
                         .arg(spin->minimum())
                         .arg(spin->maximum())
                         .arg(spin->singleStep()));
            add("special", spin->specialValueText());
            add("suffix", spin->suffix());
        } else if (const auto *v = qobject_cast<const QAbstractItemView *>(w)) {
            s.append(QStringLiteral("edit=%1 select=%2/%3")
                         .arg(int(v->editTriggers()))
                         .arg(v->selectionMode())
                         .arg(v->selectionBehavior()));
            if (const auto *t = qobject_cast<const QTableView *>(w)) {
                QStringList headers;
                for (int c = 0; t->model() && c < t->model()->columnCount(); ++c)
                    headers.append(t->model()->headerData(c, Qt::Horizontal).toString());
                add("columns", headers.join(u'|'));
                if (t->verticalHeader()->isHidden())
                    s.append(QStringLiteral("no-row-header"));
                if (t->isSortingEnabled())
                    s.append(QStringLiteral("sorting"));
            }
        } else if (const auto *p = qobject_cast<const QPlainTextEdit *>(w)) {
            if (p->isReadOnly())
                s.append(QStringLiteral("read-only"));
            add("placeholder", p->placeholderText());
        } else if (const auto *c = qobject_cast<const QComboBox *>(w)) {
            QStringList items;
            for (int i = 0; i < c->count(); ++i)
                items.append(c->itemText(i));
            add("items", items.join(u'|'));
            if (c->isEditable())
                s.append(QStringLiteral("editable"));
        } else if (const auto *g = qobject_cast<const QGroupBox *>(w)) {
            add("title", g->title());
        }
        add("tip", w->toolTip());
        if (!w->isEnabled())
            s.append(QStringLiteral("disabled"));
        if (w->isHidden())
            s.append(QStringLiteral("hidden"));
        if (w->contextMenuPolicy() != Qt::DefaultContextMenu)
            s.append(QStringLiteral("menu=") + QString::number(w->contextMenuPolicy()));
        return s.isEmpty() ? QString() : u' ' + s.join(u' ');
    }
};
