// The page encoder: one decoded page as a baseline JFIF JPEG, in memory, by libjpeg-turbo: a
// grey page with one component, a colour page in YCbCr, its density the page's resolution in
// dots per inch. And the printer's icon, drawn here and encoded as PNG.
#pragma once

#include <string>

#include "printer/raster.h"

const int kJpegQuality = 85;

// Encodes the page into *jpeg; returns non-zero on success.
int EncodeJpegPage(const RasterPage &page, std::string *jpeg);

// The printer's icon (printer-icons): an e-reader with lines of text, 128 x 128, as PNG bytes.
std::string PrinterIconPng();
