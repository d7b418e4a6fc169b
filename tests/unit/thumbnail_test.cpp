#include "common/run.h"
#include "dispatch/dispatch.h"
#include "fake_host.h"
#include "jpeg_files.h"
#include "thumbnail/classify.h"
#include "thumbnail/cleanup.h"
#include "thumbnail/generate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace tarnvel;
using tarnvel::test::capture_stderr;
using tarnvel::test::capture_stdout;
using tarnvel::test::FakeHost;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A photo with an embedded thumbnail, and one without.
const std::string kPhoto = tarnvel::test::jpeg_file({});
const std::string kPlain = tarnvel::test::jpeg_file({.thumbnail = false});
// What jhead reads of kPhoto: its header up to its image data, and an end of image.
const std::string kPhotoHead = kPhoto.substr(0, kPhoto.find("\xFF\xDA") + 10) + "\xFF\xD9";
// kPhoto with a stray byte before its image data, which jhead skips: it reads such a photo
// whole, where it is.
const std::string kStray = kPhoto.substr(0, kPhoto.find("\xFF\xDA")) + "x" + kPhoto.substr(kPhoto.find("\xFF\xDA"));
// The smallest whole JPEGs: what jhead extracts from kPhoto, and what convert samples.
const std::string kThumb = "\xFF\xD8\xFF\xDA\0\2thumb\xFF\xD9"s;
const std::string kSample = "\xFF\xD8\xFF\xDA\0\2" "72x72\xFF\xD9"s;

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

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// The device's /var/tmp, where the programs work, and this run's work file there.
struct Device : FakeHost {
    Device() { make_dir("/var/tmp"); }
    std::string work() const { return path("/var/tmp/tarnvel." + std::to_string(::getpid()) + ".jpg"); }
    std::string head() const { return path("/var/tmp/tarnvel." + std::to_string(::getpid()) + ".src.jpg"); }
};

// What the last jhead -st read.
std::string read_by_jhead;

// Acts out jhead and convert in the folder they were started in: what begins as kPhoto does
// carries an embedded thumbnail (kThumb), a file that is no JPEG fails; -te and -dt mark the
// file they change.
void act_out_tools(FakeHost& host)
{
    host.on_run = [](const std::vector<std::string>& argv) {
        auto read = [](const std::string& path) {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        if (argv[0] == "convert") std::ofstream(argv[4]) << kSample;
        if (argv[1] == "-te") std::ofstream(argv[3], std::ios::app) << "+exif";
        if (argv[1] == "-dt") std::ofstream(argv[2], std::ios::app) << "-thumb";
        if (argv[1] != "-st") return 0;
        read_by_jhead = read(argv[3]);
        if (read_by_jhead.rfind(kPhoto.substr(0, kPhoto.find("\xFF\xDA")), 0) == 0) std::ofstream(argv[2]) << kThumb;
        return read_by_jhead.rfind("\xFF\xD8", 0) == 0 ? 0 : 1 << 8;
    };
}

// The names in the folder `folder` of the fake device, sorted.
std::vector<std::string> names_in(const FakeHost& host, const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(host.path(folder))) names.push_back(e.path().filename());
    return sorted(names);
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

// "-m" per source: the programs, their arguments and folder, and what the thumbnail folder
// holds afterwards (the thumbnail, whole, or nothing; never a temporary file).
TEST(Thumbnails, MissingThumbnailCommands)
{
    const std::string pdf = "%PDF-1.4\n";
    const std::string png = "\x89PNG\r\n\x1A\n";
    const std::string none;
    const char* const odd = "a \"b\" $(touch x) `y` \\z\n;rm -rf ~.jpg";
    struct Case {
        const char* file;
        const std::string& content;
        const char* thumb;     // its thumbnail's name, or null: not a source
        const char* before;    // the thumbnail's content beforehand, or null: none
        long programs;         // 3: -st, -te, -dt; 1: -st made nothing
        bool thumb_dir = true; // .thumbnail exists beforehand
        bool copied = true;    // jhead reads a copy of the header
    };
    const Case cases[] = {
        {"IMG_0001.JPG", kPhoto, "IMG_0001.JPG", nullptr, 3, false},
        {"IMG_0001.JPG", kPhoto, "IMG_0001.JPG", nullptr, 3},
        {"IMG_0001.JPG", kPhoto, "IMG_0001.JPG", "made", 0},
        {"IMG_0001.JPG", kPhoto, "IMG_0001.JPG", "", 3},
        {"photo.Jpeg", kPhoto, "photo.Jpeg", nullptr, 3},
        {"Report.PDF", kPhoto, "Report.JPG", nullptr, 3},
        {"a.b.PDF", kPhoto, "a.b.JPG", nullptr, 3, false},
        {"Report.pdf", pdf, "Report.JPG", nullptr, 1},
        {"png.jpg", png, "png.jpg", nullptr, 1},
        {"empty.jpg", none, "empty.jpg", nullptr, 1},
        {"edited.jpg", kPlain, "edited.jpg", nullptr, 0, false},
        {odd, kPhoto, odd, nullptr, 3},
        {"-rf.jpg", kPhoto, "-rf.jpg", nullptr, 3},
        {"50%done.jpg", kPhoto, "50%done.jpg", nullptr, 3},
        {"stray.jpg", kStray, "stray.jpg", nullptr, 3, true, false},
        {".IMG_0001.JPG", kPhoto, nullptr, nullptr, 0, false},
        {"notes.txt", kPhoto, nullptr, nullptr, 0, false},
        {".thumbnail", kPhoto, nullptr, nullptr, 0, false},
    };
    for (const Case& c : cases) {
        Device host;
        act_out_tools(host);
        host.write(std::string("/disk/") + c.file, c.content);
        if (c.thumb_dir) host.make_dir("/disk/.thumbnail");
        if (c.before) host.write(std::string("/disk/.thumbnail/") + c.thumb, c.before);
        const std::string f = host.path("/disk");
        EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "") << c.file;

        const std::string w = host.work();
        const std::string s = c.copied ? host.head() : std::string("./") + c.file;
        const std::string in = " >/dev/null (in " + (c.copied ? host.path("/var/tmp") : f) + ")";
        const std::vector<std::string> all = {"run: jhead -st " + w + " " + s + in, "run: jhead -te " + s + " " + w + in,
                                              "run: jhead -dt " + w + in};
        EXPECT_EQ(host.commands, std::vector<std::string>(all.begin(), all.begin() + c.programs)) << c.file;
        if (c.programs != 0) {
            const bool jpeg = c.content.rfind("\xFF\xD8", 0) == 0;
            EXPECT_EQ(read_by_jhead, !c.copied ? c.content : jpeg ? kPhotoHead : c.content.substr(0, 2)) << c.file;
        }
        EXPECT_TRUE(names_in(host, "/var/tmp").empty()) << c.file;
        EXPECT_EQ(fs::is_directory(host.path("/disk/.thumbnail")), c.thumb || c.thumb_dir) << c.file;
        if (!c.thumb) continue;
        const bool made = c.programs == 3 || c.before;
        EXPECT_EQ(names_in(host, "/disk/.thumbnail"), made ? std::vector<std::string>{c.thumb} : std::vector<std::string>{}) << c.file;
        if (made) {
            EXPECT_EQ(host.read(std::string("/disk/.thumbnail/") + c.thumb), c.programs == 3 ? kThumb + "+exif-thumb" : c.before);
        }
    }
}

// jhead puts the name of the file it is at in place of "&i" in the source that -te names: a
// photo it must read where it is cannot have that in its name. Its header copy can.
TEST(Thumbnails, NamesThatJheadWouldRewriteAreRefused)
{
    for (const std::string* content : {&kStray, &kPhoto}) {
        Device host;
        act_out_tools(host);
        host.write("/disk/x&iy.jpg", *content);
        const std::string f = host.path("/disk");
        const std::string err = dispatch_thumbnails("-m", f.c_str());
        const bool refused = content == &kStray;
        EXPECT_EQ(err, refused ? "tarnvel: -m: jhead cannot take \"&i\" in a file name: " + f + "/x&iy.jpg\n" : "");
        EXPECT_EQ(host.commands.size(), refused ? 0u : 3u);
        EXPECT_EQ(host.exists("/disk/.thumbnail/x&iy.jpg"), !refused);
    }
}

TEST(Thumbnails, UnchangedTreeStartsNothing)
{
    Device host;
    act_out_tools(host);
    for (const char* dir : {"/disk", "/disk/2019", "/disk/2019/trip.jpg", "/disk/docs"}) {
        for (const char* name : {"a.jpg", "B.JPEG"}) host.write(std::string(dir) + "/" + name, kPhoto);
    }
    host.write("/disk/docs/Report.PDF", "%PDF");
    host.write("/disk/docs/.thumbnail/Report.JPG", "made by an earlier jhead");
    const std::string f = host.path("/disk");
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_EQ(std::count_if(host.commands.begin(), host.commands.end(), [](const std::string& c) { return c.find("jhead -st") != std::string::npos; }), 8);
    EXPECT_EQ(host.read("/disk/2019/trip.jpg/.thumbnail/B.JPEG"), kThumb + "+exif-thumb");

    host.commands.clear();
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_TRUE(host.commands.empty());
}

// A program that outruns its bound, fails, or leaves its output cut short (a full /var/tmp):
// the thumbnail's name is not created, nothing half-made or temporary stays (not even what a
// run that is gone left), and the walk goes on.
TEST(Thumbnails, NothingHalfMadeStays)
{
    struct Case {
        const char* program; // the step that goes wrong for a.jpg
        int status;          // 0: it cuts the work file short
        const char* err;     // F stands for the folder
    };
    const Case cases[] = {
        {"-te", kRunTimedOut, "tarnvel: -m: jhead ended after 60 s on F/a.jpg\n"},
        {"-dt", 1 << 8, ""},
        {"-dt", 0, "tarnvel: -m: cannot write F/.thumbnail/a.jpg: not a whole JPEG\n"},
    };
    for (const Case& c : cases) {
        Device host;
        host.write("/disk/a.jpg", kStray);
        host.write("/disk/b.jpg", kPhoto);
        host.write("/disk/.thumbnail/.tarnvel.part", "kept by a pulled card");
        host.write("/var/tmp/tarnvel.1.jpg.t", "kept by a run that was killed");
        const std::string f = host.path("/disk");
        act_out_tools(host);
        auto tools = host.on_run;
        std::string source;
        host.on_run = [&](const std::vector<std::string>& argv) {
            if (argv[1] == "-st") source = argv[3];
            const int status = tools(argv);
            if (source != "./a.jpg" || argv[1] != c.program) return status;
            if (c.status == 0) fs::resize_file(argv.back(), 9);
            return c.status;
        };
        std::string want = c.err;
        if (!want.empty()) want.replace(want.find(" F/") + 1, 1, f);
        EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), want) << c.program;
        EXPECT_EQ(names_in(host, "/disk/.thumbnail"), std::vector<std::string>{"b.jpg"}) << c.program;
        EXPECT_TRUE(names_in(host, "/var/tmp").empty()) << c.program;
    }
}

// Programs that cannot be started (the process limit reached): said once for each folder.
TEST(Thumbnails, FailedStartsAreSaidOnceAFolder)
{
    Device host;
    for (const char* photo : {"/disk/a.jpg", "/disk/b.jpg", "/disk/sub/c.jpg", "/disk/sub/d.jpg"}) host.write(photo, kPhoto);
    host.on_run = [](const std::vector<std::string>&) {
        errno = EAGAIN;
        return -1;
    };
    const std::string f = host.path("/disk");
    const std::string err = dispatch_thumbnails("-m", f.c_str());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    for (const char* folder : {"", "/sub"}) {
        EXPECT_NE(err.find("tarnvel: -m: cannot start jhead for " + f + folder + "/"), std::string::npos) << err;
    }
    EXPECT_NE(err.find(": EAGAIN\n"), std::string::npos) << err;
    EXPECT_EQ(host.commands.size(), 4u);
    EXPECT_TRUE(names_in(host, "/disk/.thumbnail").empty());
}

TEST(Thumbnails, NoFolderDoesNothing)
{
    FakeHost host;
    EXPECT_EQ(dispatch_thumbnails("-m", nullptr), "");
    EXPECT_TRUE(host.commands.empty());
    host.commands.clear();
    EXPECT_EQ(dispatch_thumbnails("-e", nullptr), "");
    EXPECT_EQ(dispatch_thumbnails("-e", ""), "");
    EXPECT_EQ(dispatch_thumbnails("-e", host.path("/absent").c_str()), "");
    EXPECT_TRUE(host.commands.empty());
}

// "-e" per photo: the programs, their arguments and folder, and the thumbnail they leave.
TEST(Thumbnails, SampledThumbnailCommands)
{
    const std::string png = "\x89PNG\r\n\x1A\n";
    struct Case {
        const char* file;
        const std::string& content;
        bool made;     // the thumbnail exists beforehand
        long programs; // 3: -st, -st, convert; 1: -st only
        bool copied = true; // jhead reads a copy of the header
    };
    const Case cases[] = {
        {"IMG.JPG", kPhoto, false, 3},
        {"stray.jpg", kStray, false, 3, false},
        {"IMG.JPG", kPhoto, true, 1},
        {"IMG.JPG", kPlain, false, 0},
        {"png.jpg", png, false, 1},
        {"50%done %d.jpg", kPhoto, false, 3},
        {"$(reboot) \"`x`\"\n.jpeg", kPhoto, false, 3},
        {"Report.pdf", kPhoto, false, 0},
    };
    for (const Case& c : cases) {
        Device host;
        act_out_tools(host);
        host.write(std::string("/disk/") + c.file, c.content);
        if (c.made) host.write(std::string("/disk/.thumbnail/") + c.file, "old");
        const std::string f = host.path("/disk");
        const std::string tmp = host.path("/var/tmp/tmp.jpg");
        EXPECT_EQ(dispatch_thumbnails("-e", f.c_str()), "") << c.file;

        const std::string extract = "run: jhead -st " + tmp + " " +
                                    (c.copied ? host.head() + " >/dev/null (in " + host.path("/var/tmp")
                                              : std::string("./") + c.file + " >/dev/null (in " + f) + ")";
        const std::vector<std::string> all = {extract, extract,
                                              "run: convert jpeg:" + tmp + " -sample 72x72! " + host.work() + " (in " +
                                                  host.path("/var/tmp") + ")"};
        EXPECT_EQ(host.commands, std::vector<std::string>(all.begin(), all.begin() + c.programs)) << c.file;
        if (c.made || c.programs == 3) {
            EXPECT_EQ(host.read(std::string("/disk/.thumbnail/") + c.file), c.made ? "old" : kSample);
        }
        for (const std::string& left : names_in(host, "/var/tmp")) EXPECT_EQ(left, "tmp.jpg") << c.file;
    }
}

TEST(Thumbnails, WalkEntersFoldersByNameAndType)
{
    Device host;
    act_out_tools(host);
    const std::vector<std::string> walked = {"/disk/trip.jpg", "/disk/recycled", "/disk/a/b/c"};
    const std::vector<std::string> passed = {"/disk/.hidden", "/disk/System Volume Information", "/disk/Recycled",
                                             "/disk/$RECYCLE.BIN", "/disk/.thumbnail"};
    for (const auto* dirs : {&walked, &passed}) {
        for (const std::string& dir : *dirs) host.write(dir + "/p.jpg", kPhoto);
    }
    host.write("/disk/.thumbnail2", "a regular file");
    EXPECT_EQ(dispatch_thumbnails("-m", host.path("/disk").c_str()), "");
    for (const std::string& dir : walked) EXPECT_TRUE(host.exists(dir + "/.thumbnail/p.jpg")) << dir;
    for (const std::string& dir : passed) EXPECT_FALSE(host.exists(dir + "/.thumbnail/p.jpg")) << dir;
}

TEST(Thumbnails, LinksAreNeverWalked)
{
    Device host;
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
    EXPECT_EQ(names_in(host, "/disk/a/.thumbnail"), std::vector<std::string>{"p.jpg"});
    EXPECT_FALSE(host.exists("/elsewhere/.thumbnail"));
}

// A tree deeper than a path can name is walked as far as its path fits: the folder beyond is
// named once, on a line cut to a sensible length.
TEST(Thumbnails, DeepTreeIsWalkedAsFarAsItsPathFits)
{
    Device host;
    act_out_tools(host);
    std::string f = host.path("/d");
    while (f.size() < 3840) f += "/" + std::string(std::min<std::size_t>(200, 3839 - f.size()), 'd');
    fs::create_directories(f);
    const fs::path saved = fs::current_path();
    fs::current_path(f);
    // From here on no path names it whole: made relative to the folder above.
    const std::string last(PATH_MAX - 5 - f.size(), 'n');
    fs::create_directories(last + "/beyond");
    std::ofstream(last + "/p.jpg") << kPhoto;
    std::ofstream(last + "/beyond/q.jpg") << kPhoto;
    const std::string err = dispatch_thumbnails("-m", host.path("/d").c_str());
    EXPECT_EQ(host.commands.size(), 3u);
    EXPECT_TRUE(fs::exists(last + "/.thumbnail/p.jpg"));
    EXPECT_FALSE(fs::exists(last + "/beyond/.thumbnail"));
    const std::string message = "-m: path too long, not walked: " + f + "/" + last + "/beyond";
    EXPECT_EQ(err, "tarnvel: " + message.substr(0, 200) + "..." + message.substr(message.size() - 200) + "\n");
    fs::current_path(saved);
}

// Out of descriptors deep down: the folder that cannot be opened is named once, and a later
// run with descriptors to spare goes on from there.
TEST(Thumbnails, FolderOpenedWithoutDescriptorsIsNamed)
{
    Device host;
    act_out_tools(host);
    std::string deep = "/disk";
    for (int i = 0; i < 40; ++i) deep += "/d";
    host.write(deep + "/p.jpg", kPhoto);
    const std::string f = host.path("/disk");
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit few{static_cast<rlim_t>(tarnvel::test::open_descriptors() + 20), saved.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &few);
    const std::string err = dispatch_thumbnails("-m", f.c_str());
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("tarnvel: -m: out of descriptors, not walked: " + f + "/d/d/", 0), 0u) << err;
    EXPECT_FALSE(host.exists(deep + "/.thumbnail"));
    EXPECT_EQ(dispatch_thumbnails("-m", f.c_str()), "");
    EXPECT_TRUE(host.exists(deep + "/.thumbnail/p.jpg"));
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
    Device host;
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
}
