// quality REFERENCE PICTURE: luma PSNR and SSIM of the first frame of PICTURE against REFERENCE, on
// the 8-bit scale (host luma / 16). SSIM: 11x11 Gaussian window, sigma 1.5, K1 0.01, K2 0.03.
// quality --ppm IN.png OUT.ppm: the PNG's RGB as binary PPM, the input cjpeg reads.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/io/frame_io.h"

namespace {

std::vector<double> LoadLuma(const std::string& path, int* w, int* h) {
  const std::optional<io::Format> format = io::FormatFromPath(path);
  if (!format || *format == io::Format::kYc48) throw io::IoError(path + ": expected .png, .jpg or .y4m");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw io::IoError(path + ": cannot open for reading");
  std::unique_ptr<io::FrameReader> reader = io::OpenReader(*format, in, path);
  core::Picture frame;
  if (!reader->Read(frame)) throw io::IoError(path + ": no frames");
  *w = frame.w;
  *h = frame.h;
  std::vector<double> luma(size_t(frame.w) * frame.h);
  for (int y = 0; y < frame.h; ++y)
    for (int x = 0; x < frame.w; ++x) luma[size_t(y) * frame.w + x] = frame.at(x, y).y / 16.0;
  return luma;
}

double Psnr(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  const double mse = sum / a.size();
  return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

// Separable Gaussian blur keeping only positions whose window lies inside the picture.
std::vector<double> Blur(const std::vector<double>& in, int w, int h, const std::vector<double>& k) {
  const int r = static_cast<int>(k.size()) / 2, ow = w - 2 * r, oh = h - 2 * r;
  std::vector<double> rows(size_t(ow) * h), out(size_t(ow) * oh);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < ow; ++x) {
      double s = 0;
      for (int i = 0; i < 2 * r + 1; ++i) s += k[i] * in[size_t(y) * w + x + i];
      rows[size_t(y) * ow + x] = s;
    }
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x) {
      double s = 0;
      for (int i = 0; i < 2 * r + 1; ++i) s += k[i] * rows[size_t(y + i) * ow + x];
      out[size_t(y) * ow + x] = s;
    }
  return out;
}

double Ssim(const std::vector<double>& a, const std::vector<double>& b, int w, int h) {
  std::vector<double> k(11);
  double total = 0;
  for (int i = 0; i < 11; ++i) total += k[i] = std::exp(-(i - 5) * (i - 5) / (2 * 1.5 * 1.5));
  for (double& v : k) v /= total;
  if (w < 11 || h < 11) throw io::IoError("pictures smaller than 11x11 have no SSIM");
  std::vector<double> aa(a.size()), bb(a.size()), ab(a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    aa[i] = a[i] * a[i];
    bb[i] = b[i] * b[i];
    ab[i] = a[i] * b[i];
  }
  const std::vector<double> ma = Blur(a, w, h, k), mb = Blur(b, w, h, k), saa = Blur(aa, w, h, k),
                            sbb = Blur(bb, w, h, k), sab = Blur(ab, w, h, k);
  const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double sum = 0;
  for (size_t i = 0; i < ma.size(); ++i) {
    const double va = saa[i] - ma[i] * ma[i], vb = sbb[i] - mb[i] * mb[i], cov = sab[i] - ma[i] * mb[i];
    sum +=
        (2 * ma[i] * mb[i] + c1) * (2 * cov + c2) / ((ma[i] * ma[i] + mb[i] * mb[i] + c1) * (va + vb + c2));
  }
  return sum / ma.size();
}

void PngToPpm(const std::string& in_path, const std::string& out_path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, in_path.c_str()))
    throw io::IoError(in_path + ": " + image.message);
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
    throw io::IoError(in_path + ": " + image.message);
  std::ofstream out(out_path, std::ios::binary);
  out << "P6\n" << image.width << " " << image.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
  if (!out) throw io::IoError(out_path + ": write failed");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--ppm") {
    try {
      PngToPpm(argv[2], argv[3]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quality: %s\n", e.what());
      return 1;
    }
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: quality REFERENCE PICTURE  (prints luma PSNR in dB and SSIM)\n       quality --ppm "
                 "IN.png OUT.ppm\n");
    return 2;
  }
  try {
    int w0, h0, w1, h1;
    const std::vector<double> ref = LoadLuma(argv[1], &w0, &h0);
    const std::vector<double> pic = LoadLuma(argv[2], &w1, &h1);
    if (w0 != w1 || h0 != h1) throw io::IoError(std::string(argv[2]) + ": size differs from the reference");
    std::printf("%.3f %.4f\n", Psnr(ref, pic), Ssim(ref, pic, w0, h0));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quality: %s\n", e.what());
    return 1;
  }
  return 0;
}
