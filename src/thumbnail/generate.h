#pragma once

namespace tarnvel {

// "-e": below the folder argv[2], each photo's embedded Exif thumbnail, extracted to
// /var/tmp/tmp.jpg and sampled to 72 by 72 pixels into .thumbnail/NAME beside it. Returns 0
// when argv[2] is missing or does not open, else the result of closing it.
int scan_photo(char** argv);

// "-m", first step: below the folder argv[2], each photo (and with `with_pdf` each PDF
// document) without a thumbnail gets the embedded Exif thumbnail at its own size, with the
// source's Exif header and no embedded thumbnail of its own. A photo's thumbnail keeps the
// photo's name; a document's is its stem and ".JPG". Returns as scan_photo.
int scan_photo_to_thumbnail(char** argv, int with_pdf);

} // namespace tarnvel
