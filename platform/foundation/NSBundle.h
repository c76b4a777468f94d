#pragma once
// A program's bundle: Name.app/Contents/{MacOS/<executable>, Resources, Info.plist}.
// An executable outside a bundle is its own folder's bundle, resources beside it.
#include <QString>
#include <QStringList>
#include <QVariantMap>

class NSBundle {
public:
    explicit NSBundle(const QString& bundlePath = {});

    // The running program's bundle, found from its executable's path.
    static NSBundle& mainBundle();
    static QString bundlePathForExecutable(const QString& executablePath);
    // Tests point the main bundle at a bundle of their own; an empty path restores it.
    static void setMainBundlePathForTesting(const QString& bundlePath);

    QString bundlePath() const { return m_bundlePath; }
    QString resourcePath() const;
    // name + type -> the file's path inside Resources, or a null string when absent.
    QString pathForResource(const QString& name, const QString& type) const;
    QVariantMap infoDictionary() const;

    // Languages with a "<code>.lproj" folder among the resources, and those in
    // the order the user's system languages prefer them.
    QStringList localizations() const;
    QStringList preferredLocalizations() const;
    // The text for key in the table ("Localizable" when empty) of the preferred
    // language, or, in a language folder's own bundle, of that folder. A missing
    // key gives value when it is not empty, else the key.
    QString localizedStringForKey(const QString& key, const QString& value, const QString& table) const;
    bool exists() const;
    QString bundleIdentifier() const;

private:
    QString m_bundlePath;
    bool m_isBundle = false;
};
