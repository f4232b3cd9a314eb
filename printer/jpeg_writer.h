// The page encoder: one decoded page as a baseline JFIF JPEG, in memory, by libjpeg-turbo: a
// grey page with one component, a colour page in YCbCr, its density the page's resolution in
// dots per inch. And the printer's icon, drawn here and encoded as PNG.
#pragma once

#include <string>

#include "printer/raster.h"

const int kJpegQuality = 85;

// Encodes the page into *jpeg, its title (UTF-8, "" for none) in a comment segment after its
// JFIF segment (see InsertTitleSegment); returns non-zero on success.
int EncodeJpegPage(const RasterPage &page, std::string *jpeg, const std::string &title = "");

// Puts the page's title into the JPEG at *jpeg, as a comment segment of kPageTitlePrefix and the
// title, where the program's intake reads it on its way to the frame: right after the JFIF
// APP0 segment that starts a JFIF file (which must stay first), else right after the start of
// image. Nothing for an empty title, or bytes that do not start a JPEG (which is refused).
void InsertTitleSegment(std::string *jpeg, const std::string &title);

// The printer's icon (printer-icons): an e-reader with lines of text, 128 x 128, as PNG bytes.
std::string PrinterIconPng();
