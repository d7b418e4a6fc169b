#include "dispatch/dispatch.h"
#include "fake_host.h"
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

// Acts out jhead and convert on the fake disk: a source whose content is "exif" carries an
// embedded thumbnail.
void act_out_tools(FakeHost& host)
{
    host.on_run = [](const std::vector<std::string>& argv) {
        auto has_exif = [](const std::string& path) {
            std::ifstream in(path);
            std::string content;
            std::getline(in, content);
            return content == "exif";
        };
        if (argv[0] == "jhead" && argv[1] == "-st" && has_exif(argv[3])) std::ofstream(argv[2]) << "thumb";
        if (argv[0] == "convert") std::ofstream(argv[4]) << "72x72";
        if (argv[0] == "rm") ::unlink(argv[1].c_str());
        if (argv[0] == "mkdir") fs::create_directories(argv[2]);
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
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.write(std::string("/disk/") + c.file, "no exif");
        if (c.thumb_dir) host.make_dir("/disk/.thumbnail");
        if (c.made) host.write(std::string("/disk/.thumbnail/") + c.thumb, "thumb");
        const std::string f = host.path("/disk");
        EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "") << c.file;

        std::vector<std::string> want;
        if (c.thumb && !c.thumb_dir) want.push_back("run: mkdir -p " + f + "/.thumbnail");
        if (c.thumb && !c.made) {
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
    host.write("/disk/x&iy.jpg", "exif");
    const std::string f = host.path("/disk");
    const std::string err = dispatch_thumbnails("-m", f.c_str());
    EXPECT_EQ(err, "tarnvel: -m: jhead cannot take \"&i\" in a file name: " + f + "/x&iy.jpg\n");
    EXPECT_EQ(host.commands, (std::vector<std::string>{"run: mkdir -p " + f + "/.thumbnail", kDropCaches}));
}

TEST(Thumbnails, UnchangedTreeStartsNothingButTheCacheDrop)
{
    FakeHost host;
    act_out_tools(host);
    for (const char* dir : {"/disk", "/disk/2019", "/disk/2019/trip.jpg", "/disk/docs"}) {
        for (const char* name : {"a.jpg", "B.JPEG"}) host.write(std::string(dir) + "/" + name, "exif");
    }
    host.write("/disk/docs/Report.PDF", "%PDF");
    host.write("/disk/docs/.thumbnail/Report.JPG", "made by an earlier jhead");
    const std::string f = host.path("/disk");
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_EQ(std::count(host.commands.begin(), host.commands.end(), "run: mkdir -p " + f + "/2019/trip.jpg/.thumbnail"), 1);
    EXPECT_EQ(std::count_if(host.commands.begin(), host.commands.end(), [](const std::string& c) { return c.find("jhead -st") != std::string::npos; }), 8);
    EXPECT_TRUE(host.exists("/disk/2019/trip.jpg/.thumbnail/B.JPEG"));

    host.commands.clear();
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_EQ(host.commands, std::vector<std::string>{kDropCaches});
}

TEST(Thumbnails, ThumbnailFolderIsMadeAgainWhileItIsMissing)
{
    FakeHost host; // its mkdir makes nothing, as on a read-only medium
    host.write("/disk/a.jpg", "x");
    host.write("/disk/b.jpg", "x");
    const std::string f = host.path("/disk");
    dispatch_thumbnails("-m", f.c_str());
    EXPECT_EQ(std::count(host.commands.begin(), host.commands.end(), "run: mkdir -p " + f + "/.thumbnail"), 2);
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
        const char* content; // "exif": the photo has an embedded thumbnail
        bool made;           // the thumbnail exists beforehand
        const char* output;  // convert's output name, or null: no sampling
    };
    const Case cases[] = {
        {"IMG.JPG", "exif", false, "IMG.JPG"},
        {"IMG.JPG", "exif", true, nullptr},
        {"IMG.JPG", "plain", false, nullptr},
        {"50%done %d.jpg", "exif", false, "50%%done %%d.jpg"},
        {"$(reboot) \"`x`\"\n.jpeg", "exif", false, "$(reboot) \"`x`\"\n.jpeg"},
        {"Report.pdf", "exif", false, nullptr},
    };
    for (const Case& c : cases) {
        FakeHost host;
        act_out_tools(host);
        host.make_dir("/var/tmp");
        host.write(std::string("/disk/") + c.file, c.content);
        if (c.made) host.write(std::string("/disk/.thumbnail/") + c.file, "old");
        const std::string f = host.path("/disk");
        const std::string tmp = host.path("/var/tmp/tmp.jpg");
        EXPECT_EQ(dispatch_thumbnails("-e", f.c_str()), "") << c.file;

        std::vector<std::string> want;
        if (std::strcmp(c.file, "Report.pdf") != 0) {
            const std::string extract = quiet("run: jhead -st " + tmp + " " + f + "/" + c.file);
            want = {"run: mkdir -p " + f + "/.thumbnail", "run: rm " + tmp, extract};
            if (c.output) {
                want.push_back(extract);
                want.push_back("run: convert " + tmp + " -sample 72x72! " + f + "/.thumbnail/" + c.output);
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
    for (const char* dir : {"/disk/trip.jpg", "/disk/.hidden", "/disk/System Volume Information", "/disk/Recycled",
                            "/disk/$RECYCLE.BIN", "/disk/.thumbnail", "/disk/recycled", "/disk/a/b/c"}) {
        host.write(std::string(dir) + "/p.jpg", "x");
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

TEST(Thumbnails, LinksBackToAnAncestorAreNotWalkedAgain)
{
    FakeHost host;
    host.write("/disk/a/p.jpg", "x");
    host.write("/elsewhere/q.jpg", "x");
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
    EXPECT_EQ(sorted(made), (std::vector<std::string>{"/a/.thumbnail/p.jpg >/dev/null", "/a/other/.thumbnail/q.jpg >/dev/null"}));
}

TEST(Thumbnails, RelativeFolderIsAnchoredSoNoPathStartsWithADash)
{
    FakeHost host;
    host.write("/disk/-rf/p.jpg", "x");
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
    std::vector<std::string> want;
    for (const char* gone : {"/.thumbnail/IMG_0002.JPG", "/.thumbnail/lower.JPG", "/.thumbnail/sub/.thumbnail/gone.jpg",
                             "/a/b/.thumbnail/gone.JPG", "/a/b/.thumbnail/$(rm -rf ~) \"q\".jpg"}) {
        want.push_back(quiet("run: rm " + f + gone));
    }
    EXPECT_EQ(sorted(host.commands), sorted(want));
    EXPECT_TRUE(host.exists("/disk/empty/.thumbnail"));
}

TEST(Cleanup, DocumentTwinCountsAtTheTopOnlyWithTheFlag)
{
    for (int with_pdf : {0, 1}) {
        FakeHost host;
        host.write("/disk/Report.PDF", "x");
        host.write("/disk/.thumbnail/Report.JPG", "x");
        host.write("/disk/.thumbnail/Gone.JPG", "x");
        const std::string t = host.path("/disk/.thumbnail");
        on_folder(t, [&](char** argv) { return Thumbnail_del_chk(argv, with_pdf); });
        std::vector<std::string> want = {quiet("run: rm " + t + "/Gone.JPG")};
        if (with_pdf == 0) want.push_back(quiet("run: rm " + t + "/Report.JPG"));
        EXPECT_EQ(sorted(host.commands), sorted(want)) << with_pdf;

        // Below the top folder the twin always counts.
        host.commands.clear();
        on_folder(host.path(""), [&](char** argv) { return Thumbnail_del_chk(argv, with_pdf); });
        EXPECT_EQ(sorted(host.commands), std::vector<std::string>{quiet("run: rm " + t + "/Gone.JPG")}) << with_pdf;
    }
}

TEST(Cleanup, ThumbnailOfARenamedPhotoGoesAtTheNextRun)
{
    FakeHost host;
    act_out_tools(host);
    host.write("/disk/IMG_0001.JPG", "exif");
    const std::string f = host.path("/disk");
    dispatch_thumbnails("-m", f.c_str());
    ASSERT_TRUE(host.exists("/disk/.thumbnail/IMG_0001.JPG"));
    fs::rename(f + "/IMG_0001.JPG", f + "/Beach.JPG");
    host.commands.clear();
    dispatch_thumbnails("-m", f.c_str());
    EXPECT_TRUE(host.exists("/disk/.thumbnail/Beach.JPG"));
    EXPECT_FALSE(host.exists("/disk/.thumbnail/IMG_0001.JPG"));
    EXPECT_EQ(host.commands.back(), kDropCaches);
    EXPECT_EQ(host.commands[host.commands.size() - 2], quiet("run: rm " + f + "/.thumbnail/IMG_0001.JPG"));
}
