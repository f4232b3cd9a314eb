// The page encoder: one decoded page as a baseline JFIF JPEG at quality 85, in memory.
#pragma once

#include <string>

#include "printer/raster.h"

const int kJpegQuality = 85;

// Encodes the page into *jpeg; returns non-zero on success.
int EncodeJpegPage(const RasterPage &page, std::string *jpeg);
