#include <ox/errors.h>
#include <ox/fileutils.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <tuple>

TEST(FileNaming, GeneratedNamesContinueAfterTheLastListedNameAndSkipTakenOnes)
{
    QTemporaryDir tmp;
    // Steps in one folder: {files created first, base name, parentheses, width, expected name}.
    const std::tuple<QStringList, QString, bool, int, QString> steps[] = {
        {{}, "img", false, 4, "img-0001.png"},
        {{"img-0007.png", "other-0009.png", "img-0003.jpg"}, "img", false, 4, "img-0008.png"},
        // Listed by name, img-9 sorts after img-10: the search starts at 10, finds it taken.
        {{"img-9.png", "img-10.png"}, "img", false, 0, "img-11.png"},
        // A '-' inside the base name makes the number unreadable: search from 1, first free one.
        {{"my-scan-0001.png", "my-scan-0005.png"}, "my-scan", false, 4, "my-scan-0002.png"},
        // Parenthesised names start with the plain name.
        {{}, "pic", true, 4, "pic.png"},
        {{"picA.png"}, "pic", true, 0, "pic(1).png"}, // matches pic*.png but no pic(N).png yet
        {{"pic.png", "pic(2).png"}, "pic", true, 0, "pic(3).png"},
        {{}, "pic", true, 3, "pic(003).png"},
        {{"pic(9).png", "pic(10).png"}, "pic", true, 0, "pic(11).png"},
        // Names are matched literally, not as wildcard patterns.
        {{"scan[1]-0001.png", "scanX-0005.png"}, "scan?", false, 4, "scan?-0001.png"},
        {{}, "scan[1]", false, 4, "scan[1]-0002.png"},
        {{"scan[1].png"}, "scan[1]", true, 0, "scan[1](1).png"},
        // Numbers count on past the int range; after the largest 64-bit one, from 1.
        {{"big-2147483647.png"}, "big", false, 0, "big-2147483648.png"},
        {{"top-1.png", "top-9223372036854775807.png"}, "top", false, 0, "top-2.png"},
    };
    for (const auto& [create, base, parentheses, width, expected] : steps) {
        for (const QString& name : create)
            ASSERT_TRUE(QFile(tmp.filePath(name)).open(QIODevice::WriteOnly));
        EXPECT_EQ(ox::GenerateFilename(tmp.path(), base, "png", parentheses, width), expected);
    }
    // A folder that cannot be listed counts as empty.
    EXPECT_EQ(ox::GenerateFilename(tmp.filePath("missing"), "img", "png", false, 3), "img-001.png");
    EXPECT_EQ(ox::GenerateFullFilename(tmp.filePath("pic(4).png")), tmp.filePath("pic(11).png"));

    EXPECT_EQ(ox::GenerateSubdirName(tmp.path(), "run"), "run");
    ASSERT_TRUE(QDir(tmp.path()).mkpath("run"));
    EXPECT_EQ(ox::GenerateSubdirName(tmp.path(), "run"), "run(1)");
    ASSERT_TRUE(QDir(tmp.path()).mkpath("run(1)"));
    EXPECT_EQ(ox::GenerateFullSubdirName(tmp.path(), "run(5)"), tmp.filePath("run(2)"));
}

TEST(FileNaming, BasenameRootStripsOnlyATrailingIntegerInParentheses)
{
    // Pairs of a name and its root.
    const QStringList cases = {"",           "",        "scan(12)",  "scan", "scan (12)", "scan ",
                               "scan(x)",    "scan(x)", "(3)",       "",     "scan()",    "scan()",
                               "scan(1)(2)", "scan(1)", " scan(2) ", "scan", "scan(2",    "scan(2",
                               " scan ",     " scan ",  "a)b(3)",    "a)b"};
    for (int i = 0; i < cases.size(); i += 2)
        EXPECT_EQ(ox::GetBasenameRoot(cases[i]), cases[i + 1]) << cases[i].toStdString();
}

TEST(FileNaming, RememberedDirsDefaultToHomeAndComeBackWithASeparator)
{
    QSettings().remove("lastOpenDir");
    QSettings().remove("lastSaveDir");
    const QString home = QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + "/";
    EXPECT_TRUE(ox::LastOpenDir() == home && ox::LastSaveDir() == home);
    ox::SetLastOpenDir("/data/open");
    ox::SetLastSaveDir("/data/save/");
    EXPECT_TRUE(ox::LastOpenDir() == "/data/open/" && ox::LastSaveDir() == "/data/save/");
    EXPECT_EQ(QSettings().value("lastOpenDir").toString(), "/data/open"); // stored unchanged
}

TEST(FileNaming, Md5IsTheBinaryDigestAndFailuresLeaveTheOutputAlone)
{
    QTemporaryDir tmp;
    QFile file(tmp.filePath("abc.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("abc") == 3);
    file.close();
    QByteArray md5;
    EXPECT_EQ(ox::FileMd5Sum(file.fileName(), md5), ox::eOk);
    EXPECT_EQ(ox::FileMd5Sum(tmp.filePath("missing.bin"), md5), ox::eErrFileNotFound);
    // Only regular files: a directory, a pipe and a device are refused (reading them could block).
    ASSERT_EQ(mkfifo(QFile::encodeName(tmp.filePath("fifo")).constData(), 0600), 0);
    for (const QString& path : {tmp.path(), tmp.filePath("fifo"), QString("/dev/zero")})
        EXPECT_EQ(ox::FileMd5Sum(path, md5), ox::eErrFileOpen) << path.toStdString();
    EXPECT_EQ(md5, QByteArray::fromHex("900150983cd24fb0d6963f7d28e17f72"));
}
