#pragma once

namespace tarnvel {

// "-m", second step: below the folder argv[2], every file of a ".thumbnail" folder that is
// named like a photo and whose source no longer stands in the parent folder is removed. The
// source is the file of the same name there or, with `with_pdf` (always so below argv[2]),
// the document STEM.PDF. Returns 0 when argv[2] is missing or does not open, else
// the result of closing it.
int Thumbnail_del_chk(char** argv, int with_pdf);

} // namespace tarnvel
