#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamlo::chart {

// Points of one series, oldest first. A ring buffer, so that dropping the oldest point and
// appending a new one (the real-time window) moves nothing. Labels share one character pool
// per series: a point costs 24 bytes plus its label's characters, an empty label nothing more.
class PointStore {
public:
    int size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void append(double x, double y, const QString& label);
    // Index 0 is the oldest point. Removing it is O(1); other indexes move the shorter side.
    void remove(int index);
    void clear();

    double x(int index) const { return xs_[slot(index)]; }
    double y(int index) const { return ys_[slot(index)]; }
    QString label(int index) const;
    bool labelIsBlank(int index) const;

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
    int slot(int index) const { return (head_ + index) & mask_; }
    void grow();
    void compactLabelPool();

    static constexpr int kLengthBits = 16;
    static constexpr std::uint64_t kMaxLabelLength = (1u << kLengthBits) - 1;

    std::vector<double> xs_;
    std::vector<double> ys_;
    // Label of a point: absolute pool position << 16 | length. Positions only grow, so removing
    // old points never rewrites the references of the others.
    std::vector<std::uint64_t> labels_;
    std::vector<char16_t> pool_;
    std::uint64_t poolBase_ = 0;  // absolute position of pool_[0]
    int head_ = 0;
    int size_ = 0;
    int mask_ = -1;  // capacity - 1; capacity is 0 or a power of two
};

}  // namespace tamlo::chart
