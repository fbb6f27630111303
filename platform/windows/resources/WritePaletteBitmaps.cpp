// Writes the palette images as the .bmp files the Windows resource script
// embeds: run after changing design/PaletteBitmaps.cpp (target
// palette_bitmaps of a POSIX build). The Windows tests compare the embedded
// images with the library's own, so a stale file fails there.
#include <cstdio>
#include <fstream>
#include <string>

#include "quorlink/design/PaletteBitmaps.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  for (const std::string& name : quorlink::PaletteBitmapNames()) {
    const std::vector<std::uint8_t>* bytes = quorlink::FindPaletteBitmap(name);
    const std::string path = std::string(argv[1]) + "/" + name + ".bmp";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes->data()),
              static_cast<std::streamsize>(bytes->size()));
    if (!out.flush()) {
      std::fprintf(stderr, "%s: cannot write\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
