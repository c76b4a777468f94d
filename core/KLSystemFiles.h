#pragma once
// Reads the kernel's files (/sys, /proc) and system data (/usr/share/misc) for
// the hardware description. Tests move all of them under a folder of their own.
#include <QString>

class KLSystemFiles {
public:
    // The place of an absolute system path under the current root.
    static QString path(const QString& absolutePath);
    static bool exists(const QString& absolutePath);
    // The file's text with surrounding whitespace removed; null when it cannot be read.
    static QString readText(const QString& absolutePath);

    // An empty root restores the real system. Set it before the readers run.
    static void setSystemRootForTesting(const QString& root);
};
