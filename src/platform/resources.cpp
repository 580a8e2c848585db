#include "platform/resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace Resources {

QString find(const QString &relativePath)
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/skyvane");
    folders << QStringLiteral(SKYVANE_INSTALLED_RESOURCES)
            << QStringLiteral(SKYVANE_SOURCE_RESOURCES);
    for (const QString &folder : std::as_const(folders)) {
        const QString path = QDir::cleanPath(folder + u'/' + relativePath);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

} // namespace Resources
