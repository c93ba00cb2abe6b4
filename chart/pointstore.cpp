#include "pointstore.h"

#include <algorithm>
#include <stdexcept>

namespace tamlo::chart {

void PointStore::append(double x, double y, const QString& label) {
    if (size_ == capacity_) {
        grow(size_ + 1);
    }
    const int s = slot(size_);
    xs_[s] = x;
    ys_[s] = y;
    const std::uint64_t length =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(label.size()), kMaxLabelLength);
    if (length > 0 && labels_.empty()) {
        startLabels();
    }
    if (!labels_.empty()) {
        const std::uint64_t position = poolBase_ + pool_.size();
        if (length > 0) {
            const char16_t* chars = reinterpret_cast<const char16_t*>(label.utf16());
            pool_.insert(pool_.end(), chars, chars + length);
        }
        labels_[s] = (position << kLengthBits) | length;
    }
    ++size_;
}

void PointStore::append(const double* xs, const double* ys, int count) {
    if (count <= 0) {
        return;
    }
    if (size_ + count > capacity_) {
        grow(size_ + count);
    }
    // An empty label refers to the pool's end, like one appended singly.
    const std::uint64_t blank = (poolBase_ + pool_.size()) << kLengthBits;
    int done = 0;
    while (done < count) {
        // At most two contiguous stretches of the ring.
        const int s = slot(size_);
        const int n = std::min(count - done, capacity_ - s);
        std::copy(xs + done, xs + done + n, xs_.get() + s);
        std::copy(ys + done, ys + done + n, ys_.get() + s);
        if (!labels_.empty()) {
            std::fill(labels_.begin() + s, labels_.begin() + s + n, blank);
        }
        size_ += n;
        done += n;
    }
}

// The first label: every point so far gets an empty one.
void PointStore::startLabels() {
    labels_.assign(static_cast<std::size_t>(capacity_), (poolBase_ + pool_.size()) << kLengthBits);
}

void PointStore::remove(int index) {
    if (index < 0 || index >= size_) {
        throw std::out_of_range("List index out of bounds");
    }
    const bool labelled = !labels_.empty();
    if (index < size_ / 2) {
        // Shift the older points up by one and drop the head.
        for (int i = index; i > 0; --i) {
            const int to = slot(i);
            const int from = slot(i - 1);
            xs_[to] = xs_[from];
            ys_[to] = ys_[from];
            if (labelled) {
                labels_[to] = labels_[from];
            }
        }
        head_ = slot(1);
    } else {
        for (int i = index; i < size_ - 1; ++i) {
            const int to = slot(i);
            const int from = slot(i + 1);
            xs_[to] = xs_[from];
            ys_[to] = ys_[from];
            if (labelled) {
                labels_[to] = labels_[from];
            }
        }
    }
    --size_;
    if (size_ == 0) {
        head_ = 0;
        pool_.clear();
        poolBase_ = 0;
        return;
    }
    if (labelled) {
        compactLabelPool();
    }
}

void PointStore::clear() {
    head_ = 0;
    size_ = 0;
    pool_.clear();
    poolBase_ = 0;
    labels_.clear();
}

QString PointStore::label(int index) const {
    if (labels_.empty()) {
        return QString();
    }
    const std::uint64_t ref = labels_[static_cast<std::size_t>(slot(index))];
    const auto length = static_cast<qsizetype>(ref & kMaxLabelLength);
    if (length == 0) {
        return QString();
    }
    const std::uint64_t position = (ref >> kLengthBits) - poolBase_;
    return QString(reinterpret_cast<const QChar*>(pool_.data() + position), length);
}

PointStore::Runs PointStore::runs() const {
    Runs r{nullptr, nullptr, 0, nullptr, nullptr, 0};
    if (size_ == 0) {
        return r;
    }
    const int firstCount = std::min(size_, capacity_ - head_);
    r.xFirst = xs_.get() + head_;
    r.yFirst = ys_.get() + head_;
    r.firstCount = firstCount;
    r.xSecond = xs_.get();
    r.ySecond = ys_.get();
    r.secondCount = size_ - firstCount;
    return r;
}

std::size_t PointStore::bytesReserved() const {
    return static_cast<std::size_t>(capacity_) * 2 * sizeof(double) +
           labels_.capacity() * sizeof(std::uint64_t) + pool_.capacity() * sizeof(char16_t);
}

// Doubles for single appends; a first bulk append takes exactly what it needs.
void PointStore::grow(int atLeast) {
    const int newCapacity = std::max(atLeast, capacity_ == 0 ? 16 : capacity_ * 2);
    auto xs = std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(newCapacity));
    auto ys = std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(newCapacity));
    const Runs r = runs();
    std::copy(r.xFirst, r.xFirst + r.firstCount, xs.get());
    std::copy(r.xSecond, r.xSecond + r.secondCount, xs.get() + r.firstCount);
    std::copy(r.yFirst, r.yFirst + r.firstCount, ys.get());
    std::copy(r.ySecond, r.ySecond + r.secondCount, ys.get() + r.firstCount);
    if (!labels_.empty()) {
        std::vector<std::uint64_t> labels(static_cast<std::size_t>(newCapacity),
                                          (poolBase_ + pool_.size()) << kLengthBits);
        for (int i = 0; i < size_; ++i) {
            labels[static_cast<std::size_t>(i)] = labels_[static_cast<std::size_t>(slot(i))];
        }
        labels_.swap(labels);
    }
    xs_ = std::move(xs);
    ys_ = std::move(ys);
    head_ = 0;
    capacity_ = newCapacity;
}

// Characters before the oldest live label are dead. Dropping them when they outweigh the live
// ones keeps the pool bounded at a cost spread thinly over the appends.
void PointStore::compactLabelPool() {
    std::uint64_t firstLive = poolBase_ + pool_.size();
    // Only the head can hold the lowest position: points keep the order in which they were
    // appended, so positions rise with the index.
    firstLive = std::min(firstLive, labels_[static_cast<std::size_t>(slot(0))] >> kLengthBits);
    const std::uint64_t dead = firstLive - poolBase_;
    const std::uint64_t live = pool_.size() - dead;
    if (dead < 4096 || dead < live) {
        return;
    }
    pool_.erase(pool_.begin(), pool_.begin() + static_cast<std::ptrdiff_t>(dead));
    poolBase_ = firstLive;
}

}  // namespace tamlo::chart
