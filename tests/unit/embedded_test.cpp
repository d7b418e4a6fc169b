#include "jpeg_files.h"
#include "thumbnail/embedded.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tarnvel::thumbnail;
using tarnvel::test::Jpeg;
using tarnvel::test::jpeg_file;
namespace fs = std::filesystem;

// Each file's answer, and the answer held against what the real jhead -st extracts from it:
// "none" must never stand where jhead extracts something. And how much of the file jhead
// reads before it knows all it will say of it: up to the image data of a JPEG (the start of
// scan's 10 bytes included), two bytes of anything else, everything when unsure.
TEST(Embedded, AnswerAgreesWithJhead)
{
    const std::string camera = jpeg_file({});
    const std::string plain = jpeg_file({.thumbnail = false});
    const std::size_t exif_end = camera.find("\xFF\xDA");
    const auto scan = static_cast<std::uint32_t>(exif_end + 10);
    struct Case {
        const char* what;
        std::string bytes;
        Embedded want;
        bool extracts; // what jhead -st makes of it
        std::uint32_t read;
    };
    const Case cases[] = {
        {"thumbnail, Motorola order", camera, Embedded::maybe, true, scan},
        {"thumbnail, Intel order", jpeg_file({.big_endian = false}), Embedded::maybe, true, scan},
        {"JFIF segment before the Exif one", jpeg_file({.jfif_first = true}), Embedded::maybe, true, scan + 18},
        {"fill bytes before a segment", "\xFF\xD8\xFF" + camera.substr(2), Embedded::maybe, true, scan + 1},
        {"no thumbnail", plain, Embedded::none, false, static_cast<std::uint32_t>(plain.find("\xFF\xDA") + 10)},
        {"no thumbnail, Intel order", jpeg_file({.big_endian = false, .thumbnail = false}), Embedded::none, false,
         static_cast<std::uint32_t>(plain.find("\xFF\xDA") + 10)},
        {"thumbnail offset past the end", jpeg_file({.offset_shift = 1000}), Embedded::none, false, scan},
        {"thumbnail offset of too many values", jpeg_file({.offset_count = 0x10001}), Embedded::none, false, scan},
        {"cut inside the Exif segment", camera.substr(0, 40), Embedded::maybe, false, kUnknown},
        {"cut after the Exif segment", camera.substr(0, exif_end), Embedded::maybe, false, kUnknown},
        {"cut in the scan's header", camera.substr(0, exif_end + 3), Embedded::maybe, false, kUnknown},
        {"no thumbnail, cut after the Exif segment", plain.substr(0, plain.find("\xFF\xDA")), Embedded::none, false, kUnknown},
        {"stray byte between segments", camera.substr(0, exif_end) + "x" + camera.substr(exif_end), Embedded::maybe, true, kUnknown},
        // No JPEG: the jhead in place decides.
        {"a PDF", "%PDF-1.4\n1 0 obj\n", Embedded::maybe, false, 2},
        {"a PNG named .jpg", "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", Embedded::maybe, false, 2},
        {"one byte", "\xFF", Embedded::maybe, false, 1},
        {"empty", "", Embedded::maybe, false, 0},
    };
    const bool have_jhead = std::system("jhead -V >/dev/null 2>&1") == 0;
    const fs::path dir = fs::temp_directory_path() / ("tarnvel-embedded-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const Case& c : cases) {
        const fs::path photo = dir / "photo.jpg";
        const fs::path out = dir / "out.jpg";
        std::ofstream(photo, std::ios::binary) << c.bytes;
        const int fd = ::open(photo.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const Header header = read_header(fd);
        EXPECT_EQ(header.thumbnail, c.want) << c.what;
        EXPECT_EQ(header.read, c.read) << c.what;
        EXPECT_FALSE(c.want == Embedded::none && c.extracts) << c.what;
        ::close(fd);
        if (have_jhead) {
            fs::remove(out);
            const std::string cmd = "jhead -st '" + out.string() + "' '" + photo.string() + "' >/dev/null 2>&1";
            EXPECT_EQ(std::system(cmd.c_str()) >= 0 && fs::exists(out), c.extracts) << c.what;
        }
    }
    fs::remove_all(dir);
    if (!have_jhead) GTEST_SKIP() << "no jhead here to hold the answers against";
}

// Only a whole JPEG is placed: what jhead leaves cut short when /var/tmp is full is not whole.
TEST(Embedded, WholeJpegs)
{
    const std::string camera = jpeg_file({});
    const std::size_t scan = camera.find("\xFF\xDA");
    const std::pair<std::string, bool> cases[] = {
        {camera, true},
        {jpeg_file({.thumbnail = false}), true},
        {camera + std::string(300, '\0'), true},                 // padded after its end
        {camera.substr(0, camera.size() - 1) + "\xFF\xFF\xD9", true}, // a fill byte before its end
        {camera.substr(0, camera.size() - 2), false},            // cut in the image data
        {camera.substr(0, scan + 4), false},                     // cut in the scan's header
        {camera.substr(0, scan), false},                         // cut before the scan
        {camera.substr(0, 40), false},                           // cut in the Exif segment
        {"\xFF\xD8\xFF\xD9", false},                             // no scan
        {"%PDF-1.4\n\xFF\xD9", false},
        {"", false},
    };
    const fs::path file = fs::temp_directory_path() / ("tarnvel-whole-" + std::to_string(::getpid()));
    for (const auto& [bytes, whole] : cases) {
        std::ofstream(file, std::ios::binary) << bytes;
        const int fd = ::open(file.c_str(), O_RDONLY);
        EXPECT_EQ(whole_jpeg(fd), whole) << bytes.size() << " bytes";
        ::close(fd);
    }
    fs::remove(file);
}
