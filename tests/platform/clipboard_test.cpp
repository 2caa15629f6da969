#include "platform/clipboard.h"
#include "support/fake_clipboard.h"

#include <gtest/gtest.h>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace sorvane::platform {
namespace {

TEST(Clipboard, FileUrlsKeepEveryByteOfTheName) {
    const std::string here = QDir::currentPath().toStdString();
    const std::vector<std::pair<std::string, QByteArray>> cases = {
        {"/a/b-c_d.e~f.dll", "file:///a/b-c_d.e~f.dll"},
        {"/", "file:///"},
        {"/with space/x#1%?&;.dll", "file:///with%20space/x%231%25%3F%26%3B.dll"},
        {"/line\nbreak\r\t\\", "file:///line%0Abreak%0D%09%5C"},
        {"/\xC3\xBC/lat\xE9\xFF", "file:///%C3%BC/lat%E9%FF"}, // UTF-8, then bytes that are not
        {"rel/x.dll", "file://" + QByteArray::fromStdString(here) + "/rel/x.dll"},
    };
    for (const auto& [path, url] : cases)
        EXPECT_EQ(FileUrl(path), url) << path;
}

TEST(Clipboard, AFileListCarriesUriListGnomeListAndText) {
    struct Case {
        std::vector<std::string> paths;
        QByteArray uriList, gnome, text;
    };
    const std::vector<Case> cases = {
        {{"/src/x.dll"}, "file:///src/x.dll\r\n", "copy\nfile:///src/x.dll", "/src/x.dll"},
        // Paths a line cannot hold are left out of every form: as text a
        // line break would make two paths of one, and bytes that are not
        // UTF-8 other characters.
        {{"/a b/1.dll", "/n\ne", "/r\re", "/lat\xE9", "/evil\u202E.exe"},
         "file:///a%20b/1.dll\r\nfile:///evil%E2%80%AE.exe\r\n",
         "copy\nfile:///a%20b/1.dll\nfile:///evil%E2%80%AE.exe",
         "/a b/1.dll\n/evil\u202E.exe"},
        {{"/only\nbroken"}, "", "copy", ""},
        {{}, "", "copy", ""},
    };
    for (const Case& c : cases) {
        const auto data = FileListMimeData(c.paths);
        EXPECT_EQ(data->formats(),
                  (QStringList{"text/uri-list", "x-special/gnome-copied-files", "text/plain"}));
        EXPECT_EQ(data->data("text/uri-list"), c.uriList);
        EXPECT_EQ(data->data("x-special/gnome-copied-files"), c.gnome);
        EXPECT_EQ(data->data("text/plain"), c.text);
    }
    // Qt programs read the same files back from the URI list.
    const auto data = FileListMimeData({"/a b/#1.dll", "/\xC3\xBC.dll"});
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile("/a b/#1.dll"),
                                         QUrl::fromLocalFile(QString::fromUtf8("/\xC3\xBC.dll"))}));
}

TEST(Clipboard, AFileListWithItsOwnTextKeepsTheFilesAndTakesTheText) {
    struct Case {
        std::vector<std::string> paths;
        std::string text;
        QByteArray uriList, gnome;
    };
    const std::vector<Case> cases = {
        {{"/src/x.dll", "/src/y.dll"}, "/src/x.dll\n/src/y.dll\n",
         "file:///src/x.dll\r\nfile:///src/y.dll\r\n", "copy\nfile:///src/x.dll\nfile:///src/y.dll"},
        {{"/n\ne", "/a.dll"}, "/a.dll\n", "file:///a.dll\r\n", "copy\nfile:///a.dll"},
        {{}, "", "", "copy"},
    };
    for (const Case& c : cases) {
        const auto data = FileListMimeData(c.paths, c.text);
        EXPECT_EQ(data->formats(),
                  (QStringList{"text/uri-list", "x-special/gnome-copied-files", "text/plain"}));
        EXPECT_EQ(data->data("text/uri-list"), c.uriList);
        EXPECT_EQ(data->data("x-special/gnome-copied-files"), c.gnome);
        EXPECT_EQ(data->data("text/plain").toStdString(), c.text);
        test::FakeClipboard fake;
        EXPECT_TRUE(PutFileListOnClipboard(fake, c.paths, c.text));
        EXPECT_EQ(fake.Format("text/uri-list"), c.uriList);
        EXPECT_EQ(fake.Format("text/plain").toStdString(), c.text);
    }
}

TEST(Clipboard, PutsReplaceTheClipboardAndSayWhetherItTookThem) {
    test::FakeClipboard fake;
    EXPECT_TRUE(PutFileListOnClipboard(fake, {"/src/x.dll"}));
    EXPECT_EQ(fake.Format("text/uri-list"), "file:///src/x.dll\r\n");
    EXPECT_TRUE(PutTextOnClipboard(fake, "/src/x\xE9.dll\n"));
    EXPECT_EQ(fake.data->formats(), QStringList{"text/plain"}); // the file list is gone
    EXPECT_EQ(fake.Format("text/plain"), "/src/x\xE9.dll\n");
    fake.refuse = true;
    EXPECT_FALSE(PutTextOnClipboard(fake, "other"));
    EXPECT_FALSE(PutFileListOnClipboard(fake, {"/other"}));
    EXPECT_EQ(fake.puts, 4);

    // The application's own clipboard.
    QtClipboardService real;
    ASSERT_TRUE(PutTextOnClipboard(real, "/a\n/b\xE9\n"));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("text/plain"), "/a\n/b\xE9\n");
    ASSERT_TRUE(PutFileListOnClipboard(real, {"/a b"}));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->urls(),
              QList<QUrl>{QUrl::fromLocalFile("/a b")});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/a b");
}

} // namespace
} // namespace sorvane::platform
