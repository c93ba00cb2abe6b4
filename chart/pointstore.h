#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tamlo::chart {

// Points of one series, oldest first. A ring buffer, so that dropping the oldest point and
// appending a new one (the real-time window) moves nothing. Labels share one character pool
// per series: a point costs 16 bytes, 24 once any point of the series has a label, plus its
// label's characters.
class PointStore {
public:
    PointStore() = default;
    PointStore(const PointStore&) = delete;
    PointStore& operator=(const PointStore&) = delete;

    int size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void append(double x, double y, const QString& label);
    // Appends count points without labels: a copy of the values and nothing more.
    void append(const double* xs, const double* ys, int count);
    // Index 0 is the oldest point. Removing it is O(1); other indexes move the shorter side.
    void remove(int index);
    void clear();

    double x(int index) const { return xs_[slot(index)]; }
    double y(int index) const { return ys_[slot(index)]; }
    QString label(int index) const;

    // The points as at most two contiguous runs (the ring may wrap): [first, first + firstCount)
    // followed by [second, second + secondCount).
    struct Runs {
        const double* xFirst;
        const double* yFirst;
        int firstCount;
        const double* xSecond;
        const double* ySecond;
        int secondCount;
    };
    Runs runs() const;

    // Bytes held, for the benchmark's memory figure.
    std::size_t bytesReserved() const;

private:
    int slot(int index) const {
        const int s = head_ + index;
        return s >= capacity_ ? s - capacity_ : s;
    }
    void grow(int atLeast);
    void startLabels();
    void compactLabelPool();

    static constexpr int kLengthBits = 16;
    static constexpr std::uint64_t kMaxLabelLength = (1u << kLengthBits) - 1;

    // Left uninitialised until written: a page of values loaded at once is touched once.
    std::unique_ptr<double[]> xs_;
    std::unique_ptr<double[]> ys_;
    // Label of a point: absolute pool position << 16 | length. Positions only grow, so removing
    // old points never rewrites the references of the others. Empty until a point has a label.
    std::vector<std::uint64_t> labels_;
    std::vector<char16_t> pool_;
    std::uint64_t poolBase_ = 0;  // absolute position of pool_[0]
    int head_ = 0;
    int size_ = 0;
    int capacity_ = 0;
};

}  // namespace tamlo::chart
