#include <ox/errors.h>
#include <ox/fileutils.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

class FileNaming : public ::testing::Test
{
protected:
    QString dir() const { return m_tmp.path(); }
    QString path(const QString& name) const { return m_tmp.filePath(name); }
    void touch(const QStringList& names) const
    {
        for (const QString& n : names) {
            QFile f(path(n));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << n.toStdString();
        }
    }
    void mkdir(const QString& name) const { ASSERT_TRUE(QDir(dir()).mkdir(name)); }
    QTemporaryDir m_tmp;
};

TEST_F(FileNaming, NumberedNamesFollowTheLastListedNameAndSkipTakenOnes)
{
    using ox::GenerateFilename;
    ASSERT_TRUE(m_tmp.isValid());
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", false, 4), "img-0001.png");
    EXPECT_EQ(GenerateFilename(dir() + "/", "img", "png", false, 0), "img-1.png");

    touch({"img-0007.png", "other-0009.png", "img-0003.jpg"});
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", false, 4), "img-0008.png");
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", false, 2), "img-08.png");

    // Listed by name, img-9 sorts after img-10: the search starts at 10, finds it taken.
    touch({"img-9.png", "img-10.png"});
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", false, 0), "img-11.png");

    // A '-' inside the base name makes the number unreadable: search from 1, first free one.
    touch({"my-scan-0001.png", "my-scan-0005.png"});
    EXPECT_EQ(GenerateFilename(dir(), "my-scan", "png", false, 4), "my-scan-0002.png");

    // A folder that cannot be listed counts as empty.
    EXPECT_EQ(GenerateFilename(path("missing"), "img", "png", false, 3), "img-001.png");
    EXPECT_EQ(GenerateFilename(path("missing"), "img", "png", true, 3), "img.png");
}

TEST_F(FileNaming, ParenthesisedNamesStartWithThePlainName)
{
    using ox::GenerateFilename;
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", true, 4), "img.png");

    touch({"imgA.png"}); // matches img*.png but no img(N).png yet
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", true, 0), "img(1).png");

    touch({"img.png", "img(2).png"});
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", true, 0), "img(3).png");
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", true, 3), "img(003).png");

    touch({"img(9).png", "img(10).png"});
    EXPECT_EQ(GenerateFilename(dir(), "img", "png", true, 0), "img(11).png");
}

TEST_F(FileNaming, FullFilenameDropsTheNumberAndContinuesTheSeries)
{
    const QString native = QDir::toNativeSeparators(dir() + "/");
    EXPECT_EQ(ox::GenerateFullFilename(path("scan(4).tif")), native + "scan.tif");
    touch({"scan.tif", "scan(4).tif", "scan(7).tif", "scan(2).png"});
    EXPECT_EQ(ox::GenerateFullFilename(path("scan(4).tif")), native + "scan(8).tif");
    EXPECT_EQ(ox::GenerateFullFilename(path("scan.tif")), native + "scan(8).tif");
}

TEST_F(FileNaming, SubdirNamesCountOnlyExistingDirectories)
{
    EXPECT_EQ(ox::GenerateSubdirName(dir(), "run"), "run");
    mkdir("run");
    EXPECT_EQ(ox::GenerateSubdirName(dir(), "run"), "run(1)");
    mkdir("run(1)");
    touch({"run(2)"}); // a file, not a directory
    EXPECT_EQ(ox::GenerateSubdirName(dir() + "/", "run"), "run(2)");
    EXPECT_EQ(ox::GenerateFullSubdirName(dir(), "run(5)"), QDir::toNativeSeparators(dir() + "/run(2)"));
}

TEST(BasenameRoot, StripsOnlyATrailingIntegerInParentheses)
{
    const QList<QPair<QString, QString>> cases = {
        {"", ""},
        {"scan(12)", "scan"},
        {"scan (12)", "scan "},
        {"scan(x)", "scan(x)"},
        {"(3)", ""},
        {"scan()", "scan()"},
        {"scan(1)(2)", "scan(1)"},
        {" scan(2) ", "scan"},
        {"scan(2", "scan(2"},
        {"scan", "scan"},
        {" scan ", " scan "},
        {"a)b(3)", "a)b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ox::GetBasenameRoot(c.first), c.second) << c.first.toStdString();
}

TEST(RememberedDirs, DefaultToHomeAndComeBackWithASeparator)
{
    {
        QSettings settings;
        settings.remove("lastOpenDir");
        settings.remove("lastSaveDir");
    }
    const QString home =
        QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + "/");
    EXPECT_EQ(ox::LastOpenDir(), home);
    EXPECT_EQ(ox::LastSaveDir(), home);

    ox::SetLastOpenDir("/data/open");
    ox::SetLastSaveDir("/data/save/");
    EXPECT_EQ(ox::LastOpenDir(), "/data/open/");
    EXPECT_EQ(ox::LastSaveDir(), "/data/save/");
    EXPECT_EQ(QSettings().value("lastOpenDir").toString(), "/data/open"); // stored unchanged
}

TEST_F(FileNaming, Md5IsTheBinaryDigestAndFailuresLeaveTheOutputAlone)
{
    {
        QFile f(path("abc.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("abc");
    }
    touch({"empty.bin"});
    QByteArray md5;
    EXPECT_EQ(ox::FileMd5Sum(path("abc.txt"), md5), ox::eOk);
    EXPECT_EQ(md5, QByteArray::fromHex("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(ox::FileMd5Sum(path("empty.bin"), md5), ox::eOk);
    EXPECT_EQ(md5, QByteArray::fromHex("d41d8cd98f00b204e9800998ecf8427e"));

    const QByteArray before = md5;
    EXPECT_EQ(ox::FileMd5Sum(path("missing.bin"), md5), ox::eErrFileNotFound);
    EXPECT_EQ(ox::FileMd5Sum(dir(), md5), ox::eErrFileOpen);
    if (geteuid() != 0) { // root reads files whatever their permissions
        QFile::setPermissions(path("abc.txt"), QFileDevice::Permissions());
        EXPECT_EQ(ox::FileMd5Sum(path("abc.txt"), md5), ox::eErrFileOpen);
    }
    EXPECT_EQ(md5, before);
}

TEST_F(FileNaming, FileSystemFormOpensNonAsciiPathsInCLibraries)
{
    EXPECT_TRUE(ox::FileSystemRepresentation(QString()).isEmpty());
    EXPECT_TRUE(ox::StringFromFileSystemRepresentation(QByteArray()).isEmpty());
    EXPECT_EQ(ox::FileSystemRepresentation("/tmp/a b.png"), QByteArray("/tmp/a b.png"));

    const QString name = path(QString::fromUtf8("Messung_\xC3\xA4\xE6\x97\xA5.txt"));
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("xyz");
    }
    const QByteArray native = ox::FileSystemRepresentation(name);
    EXPECT_EQ(native, name.toLocal8Bit());
    EXPECT_EQ(ox::StringFromFileSystemRepresentation(native), name);
    std::FILE* f = std::fopen(native.constData(), "rb");
    ASSERT_NE(f, nullptr);
    char text[4] = {};
    EXPECT_EQ(std::fread(text, 1, 3, f), 3u);
    std::fclose(f);
    EXPECT_STREQ(text, "xyz");
}

} // namespace
