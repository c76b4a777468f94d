#include "KLWindowSystem.h"

#include <vector>

namespace KLWindowSystem {

QByteArray preferredPlatform(const QProcessEnvironment& environment, const QStringList& arguments)
{
    // Qt takes an empty variable as unset, and "-platform" or "--platform".
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        return {};
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform"))
            return {};
    }
    if (environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return {};
    return environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ? QByteArray("xcb") : QByteArray("xcb;wayland");
}

void preferX11(int& argc, char**& argv)
{
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    const QByteArray platform = preferredPlatform(QProcessEnvironment::systemEnvironment(), arguments);
    if (platform.isEmpty())
        return;
    static QByteArray option("-platform");
    static QByteArray value;
    static std::vector<char*> extended;
    value = platform;
    extended.assign(argv, argv + argc);
    extended.push_back(option.data());
    extended.push_back(value.data());
    extended.push_back(nullptr);
    argc = int(extended.size()) - 1;
    argv = extended.data();
}

}  // namespace KLWindowSystem
