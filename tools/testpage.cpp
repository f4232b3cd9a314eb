// Writes a test page as a binary PPM (or PGM for grey) to stdout: a light page with a dark
// frame, a band of shades and bars that spell the page number, so that a rendered PDF shows
// which page is which. cjpeg turns it into a real JPEG.
//
//   vt_testpage WIDTH HEIGHT PAGE [grey]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: vt_testpage WIDTH HEIGHT PAGE [grey]\n");
        return 2;
    }
    int width = atoi(argv[1]), height = atoi(argv[2]), page = atoi(argv[3]);
    bool grey = argc > 4 && strcmp(argv[4], "grey") == 0;
    if (width < 16 || height < 16 || width > 20000 || height > 20000) {
        fprintf(stderr, "vt_testpage: size out of range\n");
        return 2;
    }
    int channels = grey ? 1 : 3;
    std::vector<unsigned char> row((size_t)width * channels);
    printf("P%d\n%d %d\n255\n", grey ? 5 : 6, width, height);
    int border = width / 40 + 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int r = 245, g = 242, b = 230;
            if (x < border || y < border || x >= width - border || y >= height - border)
                r = g = b = 30;
            else if (y < height / 6) {
                r = 255 * x / width;
                g = 255 * y / (height / 6);
                b = 255 - r;
            } else if (y > height / 3 && y < height / 2) {
                // one dark bar per unit of the page number, up to 20
                int bar = (x - 2 * border) / (width / 24 + 1);
                if (bar >= 0 && bar < page % 21 && (x - 2 * border) % (width / 24 + 1) < width / 40)
                    r = g = b = 20;
            } else if (y > 2 * height / 3) {
                r = g = b = 40 + (x * 7 + y * 3 + page * 13) % 160;
            }
            unsigned char *pixel = &row[(size_t)x * channels];
            if (grey) {
                pixel[0] = (unsigned char)((r * 30 + g * 59 + b * 11) / 100);
            } else {
                pixel[0] = (unsigned char)r;
                pixel[1] = (unsigned char)g;
                pixel[2] = (unsigned char)b;
            }
        }
        fwrite(row.data(), 1, row.size(), stdout);
    }
    return 0;
}
