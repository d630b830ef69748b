#include <ox/errors.h>
#include <ox/fileutils.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class FileNaming : public ::testing::Test
{
protected:
    QString dir() const { return m_tmp.path(); }
    QString path(const QString& name) const { return m_tmp.filePath(name); }
    void write(const QString& name, const QByteArray& content = QByteArray()) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
        f.write(content);
    }
    QTemporaryDir m_tmp;
};

TEST_F(FileNaming, GeneratedNamesContinueAfterTheLastListedNameAndSkipTakenOnes)
{
    ASSERT_TRUE(m_tmp.isValid());
    // Steps in one folder: files created first, then the expected name.
    const struct
    {
        QStringList create;
        QString sub, base;
        bool parentheses;
        int width;
        QString expected;
    } steps[] = {
        {{}, "", "img", false, 4, "img-0001.png"},
        {{"img-0007.png", "other-0009.png", "img-0003.jpg"}, "", "img", false, 4, "img-0008.png"},
        {{}, "", "img", false, 2, "img-08.png"},
        // Listed by name, img-9 sorts after img-10: the search starts at 10, finds it taken.
        {{"img-9.png", "img-10.png"}, "", "img", false, 0, "img-11.png"},
        // A '-' inside the base name makes the number unreadable: search from 1, first free one.
        {{"my-scan-0001.png", "my-scan-0005.png"}, "", "my-scan", false, 4, "my-scan-0002.png"},
        // A folder that cannot be listed counts as empty.
        {{}, "/missing", "img", false, 3, "img-001.png"},
        // Parenthesised names start with the plain name.
        {{}, "", "pic", true, 4, "pic.png"},
        {{"picA.png"}, "", "pic", true, 0, "pic(1).png"}, // matches pic*.png but no pic(N).png yet
        {{"pic.png", "pic(2).png"}, "", "pic", true, 0, "pic(3).png"},
        {{}, "", "pic", true, 3, "pic(003).png"},
        {{"pic(9).png", "pic(10).png"}, "", "pic", true, 0, "pic(11).png"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.expected.toStdString());
        for (const QString& name : s.create)
            write(name);
        EXPECT_EQ(ox::GenerateFilename(dir() + s.sub, s.base, "png", s.parentheses, s.width), s.expected);
    }
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
        {" scan ", " scan "},
        {"a)b(3)", "a)b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ox::GetBasenameRoot(c.first), c.second) << c.first.toStdString();
}

TEST(RememberedDirs, DefaultToHomeAndComeBackWithASeparator)
{
    QSettings().remove("lastOpenDir");
    QSettings().remove("lastSaveDir");
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
    write("abc.txt", "abc");
    write("empty.bin");
    QByteArray md5;
    EXPECT_EQ(ox::FileMd5Sum(path("abc.txt"), md5), ox::eOk);
    EXPECT_EQ(md5, QByteArray::fromHex("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(ox::FileMd5Sum(path("empty.bin"), md5), ox::eOk);
    EXPECT_EQ(md5, QByteArray::fromHex("d41d8cd98f00b204e9800998ecf8427e"));

    EXPECT_EQ(ox::FileMd5Sum(path("missing.bin"), md5), ox::eErrFileNotFound);
    EXPECT_EQ(ox::FileMd5Sum(dir(), md5), ox::eErrFileOpen); // failures leave the output alone
    if (geteuid() != 0) {                                    // root reads files whatever their permissions
        QFile::setPermissions(path("abc.txt"), QFileDevice::Permissions());
        EXPECT_EQ(ox::FileMd5Sum(path("abc.txt"), md5), ox::eErrFileOpen);
    }
    EXPECT_EQ(md5, QByteArray::fromHex("d41d8cd98f00b204e9800998ecf8427e"));
}

} // namespace
