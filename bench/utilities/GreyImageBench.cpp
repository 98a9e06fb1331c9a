// Grey-image routines against their OpenCV counterparts on the same 12-megapixel picture, one
// thread each. Routines that return a new image are timed with a new output on both sides.
// Run: build/bench/utilities/grey_image_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "utilities/GreyImage.h"
#include "utilities/GreyImageShapes.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// A photograph-like picture: smooth shading, a few shapes with hard edges and some noise.
const std::vector<std::uint8_t>& picture() {
  static const std::vector<std::uint8_t> pixels = [] {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(kWidth) * kHeight);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        double shade = 90 + 60 * std::sin(x / 350.0) * std::cos(y / 420.0);
        double dx = x - 1400.0, dy = y - 1300.0;
        if (dx * dx + dy * dy < 700.0 * 700.0) shade += 70;
        if (x > 2600 && x < 3600 && y > 500 && y < 2500) shade -= 60;
        p[static_cast<std::size_t>(y) * kWidth + x] = static_cast<std::uint8_t>(std::clamp(shade + noise(random), 0.0, 255.0));
      }
    }
    return p;
  }();
  return pixels;
}

// A binary picture whose largest region covers most of the image (for the fills).
const std::vector<std::uint8_t>& blobs() {
  static const std::vector<std::uint8_t> pixels = [] {
    std::vector<std::uint8_t> p(picture().size());
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = picture()[i] > 60 ? 255 : 0;
    return p;
  }();
  return pixels;
}

struct Copy {
  std::vector<std::uint8_t> pixels;
  std::unique_ptr<zv::Image> image;
  explicit Copy(const std::vector<std::uint8_t>& source) : pixels(source), image(zv::Image::over(pixels.data(), kWidth, kHeight)) {}
};

cv::Mat matOf(std::vector<std::uint8_t>& pixels) { return cv::Mat(kHeight, kWidth, CV_8UC1, pixels.data()); }

void setUp() { cv::setNumThreads(1); }

// The in-place routines start each round from the picture (the copy is timed on both sides alike).
void Normalise_Ours(benchmark::State& state) {
  Copy copy(picture());
  for (auto _ : state) {
    std::memcpy(copy.pixels.data(), picture().data(), picture().size());
    zv::normaliseGreyImage(*copy.image);
    benchmark::DoNotOptimize(copy.pixels.data());
  }
}
void Normalise_OpenCV(benchmark::State& state) {
  setUp();
  auto pixels = picture();
  cv::Mat image = matOf(pixels);
  for (auto _ : state) {
    std::memcpy(pixels.data(), picture().data(), picture().size());
    cv::normalize(image, image, 0, 255, cv::NORM_MINMAX);
    benchmark::DoNotOptimize(image.data);
  }
}

// Times `step` (input, output) on OpenCV, with a new output each round as ours returns one; the
// last output is left in `output`.
template <typename Step>
void timeOpenCV(benchmark::State& state, cv::Mat& output, Step step) {
  setUp();
  auto pixels = picture();
  cv::Mat image = matOf(pixels);
  for (auto _ : state) {
    output = cv::Mat();
    step(image, output);
    benchmark::DoNotOptimize(output.data);
  }
}

void Threshold_Ours(benchmark::State& state) {
  Copy copy(picture());
  for (auto _ : state) benchmark::DoNotOptimize(zv::thresholdGreyImage(*copy.image));
}
void Threshold_OpenCV(benchmark::State& state) {
  cv::Mat output;
  timeOpenCV(state, output, [](const cv::Mat& image, cv::Mat& out) {
    cv::threshold(image, out, std::floor(cv::mean(image)[0]) * 0.8, 255, cv::THRESH_BINARY_INV);
  });
}

void LocalThreshold_Ours(benchmark::State& state) {
  Copy copy(picture());
  for (auto _ : state) benchmark::DoNotOptimize(zv::localThresholdGreyImage(*copy.image));
}
void LocalThreshold_OpenCV(benchmark::State& state) {
  cv::Mat output;
  timeOpenCV(state, output, [](const cv::Mat& image, cv::Mat& out) {
    cv::adaptiveThreshold(image, out, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, 9, 0);
  });
}

void GaussianBlur_Ours(benchmark::State& state) {
  Copy copy(picture());
  for (auto _ : state) benchmark::DoNotOptimize(zv::gaussianBlurGreyImage(*copy.image));
}
void GaussianBlur_OpenCV(benchmark::State& state) {
  cv::Mat output;
  timeOpenCV(state, output, [](const cv::Mat& image, cv::Mat& out) { cv::GaussianBlur(image, out, cv::Size(5, 5), 0); });
}

void Equalise_Ours(benchmark::State& state) {
  Copy copy(picture());
  for (auto _ : state) {
    std::memcpy(copy.pixels.data(), picture().data(), picture().size());
    zv::equaliseGreyImage(*copy.image);
    benchmark::DoNotOptimize(copy.pixels.data());
  }
}
void Equalise_OpenCV(benchmark::State& state) {
  setUp();
  auto pixels = picture();
  cv::Mat image = matOf(pixels);
  for (auto _ : state) {
    std::memcpy(pixels.data(), picture().data(), picture().size());
    cv::equalizeHist(image, image);
    benchmark::DoNotOptimize(image.data);
  }
}

void Edges_Ours(benchmark::State& state) {
  Copy copy(picture());
  zv::Ref<zv::ImageWrapper> edges;
  for (auto _ : state) {
    edges = zv::cannyEdgeImage(*copy.image, 0.4f, 0.9f);
    benchmark::DoNotOptimize(edges);
  }
  const zv::Image& map = *edges->image();
  state.counters["edges"] = static_cast<double>(std::count(map.pixels, map.pixels + map.pixelCount(), 0));
}
void Edges_OpenCV(benchmark::State& state) {
  cv::Mat output;
  timeOpenCV(state, output, [](const cv::Mat& image, cv::Mat& out) { cv::Canny(image, out, 40, 100); });
  state.counters["edges"] = cv::countNonZero(output);
}

// Our thresholds come from the magnitude histogram (90th percentile of the candidates), which on a
// noisy picture marks far more edges than fixed thresholds; these give OpenCV a like amount of work.
void Edges_OpenCV_LikeEdgeCount(benchmark::State& state) {
  cv::Mat output;
  const double low = static_cast<double>(state.range(0)), high = static_cast<double>(state.range(1));
  timeOpenCV(state, output, [&](const cv::Mat& image, cv::Mat& out) { cv::Canny(image, out, low, high); });
  state.counters["edges"] = cv::countNonZero(output);
}

// Both sides fill the largest region of a fresh copy (the copy is timed on both sides alike).
void FloodFill_Ours(benchmark::State& state) {
  std::vector<zv::ImagePoint> points;
  for (auto _ : state) {
    Copy copy(blobs());
    points.clear();
    zv::floodFillRegion(*copy.image, 1400, 1300, points);
    benchmark::DoNotOptimize(points.data());
  }
  state.counters["points"] = static_cast<double>(points.size());
}
void FloodFill_OpenCV(benchmark::State& state) {
  setUp();
  int filled = 0;
  for (auto _ : state) {
    auto pixels = blobs();
    cv::Mat image = matOf(pixels);
    filled = cv::floodFill(image, cv::Point(1400, 1300), cv::Scalar(0), nullptr, cv::Scalar(), cv::Scalar(), 8);
    benchmark::DoNotOptimize(image.data);
  }
  state.counters["points"] = filled;
}

}  // namespace

BENCHMARK(Normalise_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Normalise_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(Threshold_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Threshold_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(LocalThreshold_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(LocalThreshold_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(GaussianBlur_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(GaussianBlur_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(Equalise_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Equalise_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(Edges_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Edges_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(Edges_OpenCV_LikeEdgeCount)->Args({4, 10})->Args({6, 14})->Args({8, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(FloodFill_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(FloodFill_OpenCV)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
