#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "OwnFile.h"
#include "TestHome.h"

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Someone who can write in the folder plants a link to a file of the user's at
// the name of a file of ours: ours is written beside it, the user's never.
TEST(OwnFileTest, ALinkToTheUsersFileIsNeitherReplacedThroughNorAppendedTo)
{
    const TestHome home;
    const QString users = home.path() + "/notes.txt";
    write(users, "the user's own words");
    const QString ours = home.path() + "/ours";
    const std::string oursPath = QFile::encodeName(ours).toStdString();
    ASSERT_EQ(::symlink(QFile::encodeName(users).constData(), oursPath.c_str()), 0);

    std::string reason;
    bool refused = false;
    EXPECT_EQ(OwnFile::openForAppend(oursPath, 1 << 20, 0600, &reason, &refused), -1);
    EXPECT_TRUE(refused);
    EXPECT_EQ(contents(users), "the user's own words");

    EXPECT_TRUE(OwnFile::replace(oursPath, "ours", 0600, &reason)) << reason;
    EXPECT_EQ(contents(users), "the user's own words");
    EXPECT_FALSE(QFileInfo(ours).isSymLink());
    EXPECT_EQ(contents(ours), "ours");
}

// Over a long use damaged files would pile up: only the newest few stay, the
// one just set aside among them, and names that setting aside does not give
// are left alone.
TEST(OwnFileTest, OnlyTheNewestFilesSetAsideAreKept)
{
    const TestHome home;
    const QString ours = home.path() + "/state";
    const QStringList earlier{"state.damaged-20240101-120000-000", "state.damaged-20240101-120000-000-2",
                              "state.damaged-20250101-120000-000", "state.damaged-20250101-120000-001",
                              "state.damaged-notes"};
    for (const QString& name : earlier)
        write(home.path() + "/" + name, "old");
    write(ours, "damaged");
    const std::string aside = OwnFile::setAside(QFile::encodeName(ours).toStdString());
    ASSERT_FALSE(aside.empty());
    QStringList expected = earlier.mid(earlier.size() - OwnFile::kSetAsideKept) << QFileInfo(QString::fromStdString(aside)).fileName();
    expected.sort();
    const QStringList kept = QDir(home.path()).entryList({"state.damaged-*"}, QDir::AllEntries | QDir::System, QDir::Name);
    EXPECT_EQ(kept, expected) << qPrintable(kept.join(' '));
}

}  // namespace
