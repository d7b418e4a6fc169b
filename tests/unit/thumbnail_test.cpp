#include "common/run.h"
#include "dispatch/dispatch.h"
#include "fake_host.h"
#include "jpeg_files.h"
#include "thumbnail/classify.h"
#include "thumbnail/cleanup.h"
#include "thumbnail/generate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;
namespace fs = std::filesystem;

namespace {

const std::string kDropCaches = "sh: echo 1 > /proc/sys/vm/drop_caches";
// A photo with an embedded thumbnail, and one without.
const std::string kPhoto = tarnvel::test::jpeg_file({});
const std::string kPlain = tarnvel::test::jpeg_file({.thumbnail = false});

// Runs the dispatcher with OPTION and FOLDER (none when null); returns stderr. stdout must
// stay empty.
std::string dispatch_thumbnails(const char* option, const char* folder)
{
    std::vector<std::string> args = {"tarnvel", option};
    if (folder) args.emplace_back(folder);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string out;
    std::string err = capture_stderr([&] { out = capture_stdout([&] { dispatch(argv.data()); }); });
    EXPECT_EQ(out, "");
    return err;
}

// Calls `op` with the vector {null, null, folder} as the walks' own recursion does.
template <typename Op>
int on_folder(const std::string& folder, Op op)
{
    std::string copy = folder;
    char* argv[] = {nullptr, nullptr, copy.data(), nullptr};
    return op(argv);
}

std::string quiet(const std::string& line) { return line + " >/dev/null"; }

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// Acts out jhead and convert on the fake disk: kPhoto carries an embedded thumbnail.
void act_out_tools(FakeHost& host)
{
    host.on_run = [](const std::vector<std::string>& argv) {
        auto has_exif = [](const std::string& path) {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {}) == kPhoto;
        };
        if (argv[0] == "jhead" && argv[1] == "-st" && has_exif(argv[3])) std::ofstream(argv[2]) << "thumb";
        if (argv[0] == "convert") std::ofstream(argv[4]) << "72x72";
        return 0;
    };
}

} // namespace

TEST(Classify, NamesByTable)
{
    struct Case {
        const char* name;
        int photos;    // with find_name
        int documents; // with find_name_new
    };
    const Case cases[] = {
        {".thumbnail", NAME_THUMB_DIR, NAME_THUMB_DIR},
        {".THUMBNAIL", NAME_SKIP, NAME_SKIP},
        {".Thumbnail", NAME_SKIP, NAME_SKIP},
        {".thumbnails", NAME_SKIP, NAME_SKIP},
        {".", NAME_SKIP, NAME_SKIP},
        {"..", NAME_SKIP, NAME_SKIP},
        {".jpg", NAME_SKIP, NAME_SKIP},
        {".IMG_0001.JPG", NAME_SKIP, NAME_SKIP},
        {"System Volume Information", NAME_SKIP, NAME_SKIP},
        {"Recycled", NAME_SKIP, NAME_SKIP},
        {"$RECYCLE.BIN", NAME_SKIP, NAME_SKIP},
        {"RECYCLED", NAME_OTHER, NAME_OTHER},
        {"$Recycle.Bin", NAME_OTHER, NAME_OTHER},
        {"photo.jpg", NAME_PHOTO, NAME_PHOTO},
        {"PHOTO.JPG", NAME_PHOTO, NAME_PHOTO},
        {"photo.Jpeg", NAME_PHOTO, NAME_PHOTO},
        {"photo.JPEG", NAME_PHOTO, NAME_PHOTO},
        {"report.pdf", NAME_OTHER, NAME_PDF},
        {"report.PDF", NAME_OTHER, NAME_PDF},
        {"a.b.PdF", NAME_OTHER, NAME_PDF},
        {"archive.jpg.zip", NAME_OTHER, NAME_OTHER},
        {"my.photo.jpg", NAME_PHOTO, NAME_PHOTO},
        {"Holiday.2019.jpeg", NAME_PHOTO, NAME_PHOTO},
        {"README", NAME_OTHER, NAME_OTHER},
        {"photo.", NAME_OTHER, NAME_OTHER},
        {"", NAME_OTHER, NAME_OTHER},
        {"photo.jpe", NAME_OTHER, NAME_OTHER},
        {"photo.jpgx", NAME_OTHER, NAME_OTHER},
        {"photo.tif", NAME_OTHER, NAME_OTHER},
        {"photo.j\xc3\xa9g", NAME_OTHER, NAME_OTHER},
        {"a \"b\" $(c) `d` \\e\n-f.jpg", NAME_PHOTO, NAME_PHOTO},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chk_name(c.name, skip_name, find_name), c.photos) << '"' << c.name << '"';
        EXPECT_EQ(chk_name(c.name, skip_name, find_name_new), c.documents) << '"' << c.name << '"';
    }
}

TEST(Classify, TablesAreWalkedToTheirEnd)
{
    const char* const none[] = {nullptr};
    const char* const mine[] = {"a", "b", "Photos", nullptr};
    const char* const tiff[] = {".TIF", ".TIFF", nullptr};
    EXPECT_EQ(chk_name("Photos", mine, find_name), NAME_SKIP);
    EXPECT_EQ(chk_name("Recycled", none, find_name), NAME_OTHER);
    EXPECT_EQ(chk_name("scan.tiff", none, tiff), NAME_PHOTO);
    EXPECT_EQ(chk_name("scan.jpg", none, tiff), NAME_OTHER);
    EXPECT_EQ(chk_name("scan.jpg", none, none), NAME_OTHER);
}

TEST(Classify, StruprCopiesAndUppercasesLettersOnly)
{
    const char text[] = "ab.Jpg 9_\xe9\x7f";
    char* upper = strupr(text);
    ASSERT_NE(upper, nullptr);
    EXPECT_NE(static_cast<const void*>(upper), static_cast<const void*>(text));
    EXPECT_STREQ(upper, "AB.JPG 9_\xe9\x7f");
    EXPECT_STREQ(text, "ab.Jpg 9_\xe9\x7f");
    std::free(upper);
}

// "-m" per source: the programs and their arguments, with one source in a folder of its own.
TEST(Thumbnails, MissingThumbnailCommands)
{
    struct Case {
        const char* file;
        bool thumb_dir;     // .thumbnail exists beforehand
        const char* thumb;  // thumbnail path under the folder, or null: no programs
        bool made;          // the thumbnail exists beforehand
        bool embedded = true; // the source carries an embedded thumbnail
    };
    const Case cases[] = {
        {"IMG_0001.JPG", false, "IMG_0001.JPG", false},
        {"IMG_0001.JPG", true, "IMG_0001.JPG", false},
        {"IMG_0001.JPG", true, "IMG_0001.JPG", true},
        {"photo.Jpeg", true, "photo.Jpeg", false},
        {"Report.pdf", true, "Report.JPG", false},
        {"a.b.PDF", false, "a.b.JPG", false},
        {"a \"b\" $(touch x) `y` \\z\n;rm -rf ~.jpg", true, "a \"b\" $(touch x) `y` \\z\n;rm -rf ~.jpg", false},
        {"-rf.jpg", true, "-rf.jpg", false},
        {"50%done.jpg", true, "50%done.jpg", false},
        {".IMG_0001.JPG", false, nullptr, false},
        {"notes.txt", false, nullptr, false},
        {".thumbnail", false, nullptr, false},
        {"edited.jpg", false, "edited.jpg", false, false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        act_out_tools(host);
        host.write(std::string("/disk/") + c.file, c.embedded ? kPhoto : kPlain);
        if (c.thumb_dir) host.make_dir("/disk/.thumbnail");
        if (c.made) host.write(std::string("/disk/.thumbnail/") + c.thumb, "thumb");
        const std::string f = host.path("/disk");
        EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "") << c.file;

        std::vector<std::string> want;
        EXPECT_EQ(fs::is_directory(host.path("/disk/.thumbnail")), c.thumb || c.thumb_dir) << c.file;
        if (c.thumb && !c.made && c.embedded) {
            const std::string t = f + "/.thumbnail/" + c.thumb;
            const std::string s = f + "/" + c.file;
            want.push_back(quiet("run: jhead -st " + t + " " + s));
            want.push_back(quiet("run: jhead -te " + s + " " + t));
            want.push_back(quiet("run: jhead -dt " + t));
        }
        want.push_back(kDropCaches);
        EXPECT_EQ(host.commands, want) << c.file;
    }
}

TEST(Thumbnails, NamesThatJheadWouldRewriteAreRefused)
{
    FakeHost host;
    host.write("/disk/x&iy.jpg", kPhoto);
    const std::string f = host.path("/disk");
    const std::string err = dispatch_thumbnails("-m", f.c_str());
    EXPECT_EQ(err, "tarnvel: -m: jhead cannot take \"&i\" in a file name: " + f + "/x&iy.jpg\n");
    EXPECT_EQ(host.commands, (std::vector<std::string>{kDropCaches}));
}

TEST(Thumbnails, UnchangedTreeStartsNothingButTheCacheDrop)
{
    FakeHost host;
    act_out_tools(host);
    for (const char* dir : {"/disk", "/disk/2019", "/disk/2019/trip.jpg", "/disk/docs"}) {
        for (const char* name : {"a.jpg", "B.JPEG"}) host.write(std::string(dir) + "/" + name, kPhoto);
    }
    host.write("/disk/docs/Report.PDF", "%PDF");
    host.write("/disk/docs/.thumbnail/Report.JPG", "made by an earlier jhead");
    const std::string f = host.path("/disk");
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_EQ(std::count_if(host.commands.begin(), host.commands.end(), [](const std::string& c) { return c.find("jhead -st") != std::string::npos; }), 8);
    EXPECT_TRUE(host.exists("/disk/2019/trip.jpg/.thumbnail/B.JPEG"));

    host.commands.clear();
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_EQ(host.commands, std::vector<std::string>{kDropCaches});
}

// A program that outruns its bound is ended: its half-made thumbnail goes (it would never be
// made again), and the walk goes on with the next source.
TEST(Thumbnails, ProgramEndedAfterItsBound)
{
    FakeHost host;
    host.write("/disk/a.jpg", kPhoto);
    host.write("/disk/b.jpg", kPhoto);
    const std::string f = host.path("/disk");
    host.on_run = [&](const std::vector<std::string>& argv) {
        if (argv[1] == "-st") std::ofstream(argv[2]) << "thumb";
        return argv[1] == "-te" && argv[2] == f + "/a.jpg" ? kRunTimedOut : 0;
    };
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "tarnvel: -m: jhead ended after 60 s on " + f + "/.thumbnail/a.jpg\n");
    EXPECT_FALSE(host.exists("/disk/.thumbnail/a.jpg"));
    EXPECT_TRUE(host.exists("/disk/.thumbnail/b.jpg"));
    EXPECT_EQ(std::count_if(host.commands.begin(), host.commands.end(), [](const std::string& c) { return c.find("-dt") != std::string::npos; }), 1);
}

// The disk changed between the walk's look and a program's start: a thumbnail folder swapped
// for a link to a folder off the disk gets nothing written into it.
TEST(Thumbnails, NoProgramOnAPathThatChanged)
{
    FakeHost host;
    host.write("/disk/a.jpg", kPhoto);
    host.make_dir("/outside");
    const std::string f = host.path("/disk");
    host.on_run = [&](const std::vector<std::string>& argv) {
        std::ofstream(argv[2]) << "thumb";
        fs::rename(f + "/.thumbnail", f + "/moved");
        fs::create_directory_symlink(host.path("/outside"), f + "/.thumbnail");
        return 0;
    };
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "tarnvel: -m: the disk changed under " + f + "/a.jpg, left alone\n");
    EXPECT_EQ(host.commands, (std::vector<std::string>{quiet("run: jhead -st " + f + "/.thumbnail/a.jpg " + f + "/a.jpg"), kDropCaches}));
    EXPECT_TRUE(fs::is_empty(host.path("/outside")));
}

TEST(Thumbnails, NoFolderDoesNothingButTheCacheDrop)
{
    FakeHost host;
    EXPECT_EQ(dispatch_thumbnails("-m", nullptr), "");
    EXPECT_EQ(host.commands, std::vector<std::string>{kDropCaches});
    host.commands.clear();
    EXPECT_EQ(dispatch_thumbnails("-e", nullptr), "");
    EXPECT_EQ(dispatch_thumbnails("-e", ""), "");
    EXPECT_EQ(dispatch_thumbnails("-e", host.path("/absent").c_str()), "");
    EXPECT_TRUE(host.commands.empty());
}

// "-e" per photo: the programs and their arguments.
TEST(Thumbnails, SampledThumbnailCommands)
{
    struct Case {
        const char* file;
        const char* content; // kPhoto: the photo has an embedded thumbnail
        bool made;           // the thumbnail exists beforehand
        const char* output;  // convert's output name, or null: no sampling
    };
    const Case cases[] = {
        {"IMG.JPG", kPhoto.c_str(), false, "IMG.JPG"},
        {"IMG.JPG", kPhoto.c_str(), true, nullptr},
        {"IMG.JPG", kPlain.c_str(), false, nullptr},
        {"50%done %d.jpg", kPhoto.c_str(), false, "50%%done %%d.jpg"},
        {"$(reboot) \"`x`\"\n.jpeg", kPhoto.c_str(), false, "$(reboot) \"`x`\"\n.jpeg"},
        {"Report.pdf", kPhoto.c_str(), false, nullptr},
    };
    for (const Case& c : cases) {
        FakeHost host;
        act_out_tools(host);
        host.make_dir("/var/tmp");
        host.write(std::string("/disk/") + c.file, c.content == kPhoto.c_str() ? kPhoto : kPlain);
        if (c.made) host.write(std::string("/disk/.thumbnail/") + c.file, "old");
        const std::string f = host.path("/disk");
        const std::string tmp = host.path("/var/tmp/tmp.jpg");
        EXPECT_EQ(dispatch_thumbnails("-e", f.c_str()), "") << c.file;

        std::vector<std::string> want;
        if (std::strcmp(c.file, "Report.pdf") != 0 && c.content == kPhoto.c_str()) {
            const std::string extract = quiet("run: jhead -st " + tmp + " " + f + "/" + c.file);
            want = {extract};
            if (c.output) {
                want.push_back(extract);
                want.push_back("run: convert jpeg:" + tmp + " -sample 72x72! " + f + "/.thumbnail/" + c.output);
            }
        }
        EXPECT_EQ(host.commands, want) << c.file;
        if (c.made) {
            EXPECT_EQ(host.read(std::string("/disk/.thumbnail/") + c.file), "old");
        }
    }
}

TEST(Thumbnails, WalkEntersFoldersByNameAndType)
{
    FakeHost host;
    act_out_tools(host);
    for (const char* dir : {"/disk/trip.jpg", "/disk/.hidden", "/disk/System Volume Information", "/disk/Recycled",
                            "/disk/$RECYCLE.BIN", "/disk/.thumbnail", "/disk/recycled", "/disk/a/b/c"}) {
        host.write(std::string(dir) + "/p.jpg", kPhoto);
    }
    host.write("/disk/.thumbnail2", "a regular file");
    const std::string f = host.path("/disk");
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    std::vector<std::string> made;
    for (const std::string& c : host.commands) {
        if (c.rfind("run: jhead -dt ", 0) == 0) made.push_back(c.substr(15 + f.size()));
    }
    EXPECT_EQ(sorted(made), (std::vector<std::string>{"/a/b/c/.thumbnail/p.jpg >/dev/null", "/recycled/.thumbnail/p.jpg >/dev/null",
                                                      "/trip.jpg/.thumbnail/p.jpg >/dev/null"}));
}

TEST(Thumbnails, LinksAreNeverWalked)
{
    FakeHost host;
    act_out_tools(host);
    host.write("/disk/a/p.jpg", kPhoto);
    host.write("/elsewhere/q.jpg", kPhoto);
    const std::string f = host.path("/disk");
    fs::create_directory_symlink("..", f + "/a/up");
    fs::create_directory_symlink(".", f + "/a/self");
    fs::create_directory_symlink(f, f + "/a/top");
    fs::create_directory_symlink(host.path("/elsewhere"), f + "/a/other");
    fs::create_symlink(f + "/a/p.jpg", f + "/a/link.jpg");
    const int fds = tarnvel::test::open_descriptors();
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_EQ(tarnvel::test::open_descriptors(), fds);
    std::vector<std::string> made;
    for (const std::string& c : host.commands) {
        if (c.rfind("run: jhead -dt ", 0) == 0) made.push_back(c.substr(15 + f.size()));
    }
    EXPECT_EQ(made, (std::vector<std::string>{"/a/.thumbnail/p.jpg >/dev/null"}));
}

TEST(Thumbnails, RelativeFolderIsAnchoredSoNoPathStartsWithADash)
{
    FakeHost host;
    act_out_tools(host);
    host.write("/disk/-rf/p.jpg", kPhoto);
    host.make_dir("/disk/-rf/.thumbnail");
    const fs::path saved = fs::current_path();
    fs::current_path(host.path("/disk"));
    EXPECT_EQ(dispatch_thumbnails("-m", "-rf"), "");
    fs::current_path(saved);
    EXPECT_EQ(host.commands, (std::vector<std::string>{quiet("run: jhead -st ./-rf/.thumbnail/p.jpg ./-rf/p.jpg"),
                                                       quiet("run: jhead -te ./-rf/p.jpg ./-rf/.thumbnail/p.jpg"),
                                                       quiet("run: jhead -dt ./-rf/.thumbnail/p.jpg"), kDropCaches}));
}

TEST(Thumbnails, PathsTheKernelCannotTakeAreRefused)
{
    FakeHost host;
    // A folder whose photo still fits a path but whose thumbnail path does not.
    std::string f = host.path("/d");
    while (f.size() < 3840) f += "/" + std::string(std::min<std::size_t>(200, 3839 - f.size()), 'd');
    fs::create_directories(f + "/.thumbnail");
    const std::string name = std::string(246, 'n') + ".jpg";
    const std::string photo = f + "/" + name;
    ASSERT_EQ(photo.size(), 4091u);
    std::ofstream(photo) << "x";
    ASSERT_TRUE(fs::exists(photo));
    const std::string err = dispatch_thumbnails("-m", host.path("/d").c_str());
    EXPECT_TRUE(err == "tarnvel: -m: path too long for the kernel: " + f + "/.thumbnail/" + name + "\n") << err.substr(0, 60);
    EXPECT_EQ(host.commands, std::vector<std::string>{kDropCaches});
}

TEST(Cleanup, OrphansAreRemovedAndSourcesKept)
{
    FakeHost host;
    const char* const files[] = {
        "/disk/IMG_0001.JPG", "/disk/Report.PDF", "/disk/lower.pdf", "/disk/both.PDF",
        "/disk/.thumbnail/IMG_0001.JPG",  // photo present
        "/disk/.thumbnail/IMG_0002.JPG",  // photo gone
        "/disk/.thumbnail/Report.JPG",    // document twin present
        "/disk/.thumbnail/lower.JPG",     // the twin is sought as .PDF only
        "/disk/.thumbnail/both.jpeg",     // twin both.PDF
        "/disk/.thumbnail/.hidden.JPG", "/disk/.thumbnail/notes.txt", "/disk/.thumbnail/x.png",
        "/disk/.thumbnail/sub/.thumbnail/gone.jpg", // thumbnail folder inside a thumbnail folder: parent sub has no gone.jpg
        "/disk/.thumbnail/sub/kept.jpg", // a sub-folder of a thumbnail folder is not one itself
        "/disk/my.thumbnails/gone.jpg", "/disk/.hidden/.thumbnail/gone.jpg", "/disk/Recycled/.thumbnail/gone.jpg",
        "/disk/a/b/.thumbnail/gone.JPG", "/disk/a/b/.thumbnail/$(rm -rf ~) \"q\".jpg",
    };
    for (const char* file : files) host.write(file, "x");
    host.make_dir("/disk/empty/.thumbnail");
    const std::string f = host.path("/disk");
    EXPECT_EQ(on_folder(f, [](char** argv) { return Thumbnail_del_chk(argv, 1); }), 0);
    EXPECT_TRUE(host.commands.empty());
    const std::vector<std::string> gone = {"/disk/.thumbnail/IMG_0002.JPG", "/disk/.thumbnail/lower.JPG", "/disk/.thumbnail/sub/.thumbnail/gone.jpg",
                                           "/disk/a/b/.thumbnail/gone.JPG", "/disk/a/b/.thumbnail/$(rm -rf ~) \"q\".jpg"};
    for (const char* file : files) EXPECT_EQ(host.exists(file), std::find(gone.begin(), gone.end(), file) == gone.end()) << file;
    EXPECT_TRUE(host.exists("/disk/empty/.thumbnail"));
}

TEST(Cleanup, DocumentTwinCountsAtTheTopOnlyWithTheFlag)
{
    for (int with_pdf : {0, 1}) {
        FakeHost host;
        host.write("/disk/Report.PDF", "x");
        host.write("/disk/.thumbnail/Report.JPG", "x");
        host.write("/disk/.thumbnail/Gone.JPG", "x");
        on_folder(host.path("/disk/.thumbnail"), [&](char** argv) { return Thumbnail_del_chk(argv, with_pdf); });
        EXPECT_FALSE(host.exists("/disk/.thumbnail/Gone.JPG"));
        EXPECT_EQ(host.exists("/disk/.thumbnail/Report.JPG"), with_pdf == 1);

        // Below the top folder the twin always counts.
        host.write("/disk/.thumbnail/Report.JPG", "x");
        on_folder(host.path(""), [&](char** argv) { return Thumbnail_del_chk(argv, with_pdf); });
        EXPECT_TRUE(host.exists("/disk/.thumbnail/Report.JPG")) << with_pdf;
    }
}

TEST(Cleanup, ThumbnailOfARenamedPhotoGoesAtTheNextRun)
{
    FakeHost host;
    act_out_tools(host);
    host.write("/disk/IMG_0001.JPG", kPhoto);
    const std::string f = host.path("/disk");
    dispatch_thumbnails("-m", f.c_str());
    ASSERT_TRUE(host.exists("/disk/.thumbnail/IMG_0001.JPG"));
    fs::rename(f + "/IMG_0001.JPG", f + "/Beach.JPG");
    host.commands.clear();
    dispatch_thumbnails("-m", f.c_str());
    EXPECT_TRUE(host.exists("/disk/.thumbnail/Beach.JPG"));
    EXPECT_FALSE(host.exists("/disk/.thumbnail/IMG_0001.JPG"));
    EXPECT_EQ(host.commands.back(), kDropCaches);
}
