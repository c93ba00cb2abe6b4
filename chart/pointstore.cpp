#include "pointstore.h"

#include <algorithm>
#include <stdexcept>

namespace tamlo::chart {

void PointStore::append(double x, double y, const QString& label) {
    if (size_ == mask_ + 1) {
        grow();
    }
    const int s = slot(size_);
    xs_[s] = x;
    ys_[s] = y;
    const std::uint64_t length =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(label.size()), kMaxLabelLength);
    const std::uint64_t position = poolBase_ + pool_.size();
    if (length > 0) {
        const char16_t* chars = reinterpret_cast<const char16_t*>(label.utf16());
        pool_.insert(pool_.end(), chars, chars + length);
    }
    labels_[s] = (position << kLengthBits) | length;
    ++size_;
}

void PointStore::remove(int index) {
    if (index < 0 || index >= size_) {
        throw std::out_of_range("List index out of bounds");
    }
    if (index < size_ / 2) {
        // Shift the older points up by one and drop the head.
        for (int i = index; i > 0; --i) {
            const int to = slot(i);
            const int from = slot(i - 1);
            xs_[to] = xs_[from];
            ys_[to] = ys_[from];
            labels_[to] = labels_[from];
        }
        head_ = (head_ + 1) & mask_;
    } else {
        for (int i = index; i < size_ - 1; ++i) {
            const int to = slot(i);
            const int from = slot(i + 1);
            xs_[to] = xs_[from];
            ys_[to] = ys_[from];
            labels_[to] = labels_[from];
        }
    }
    --size_;
    if (size_ == 0) {
        head_ = 0;
        pool_.clear();
        poolBase_ = 0;
        return;
    }
    compactLabelPool();
}

void PointStore::clear() {
    head_ = 0;
    size_ = 0;
    pool_.clear();
    poolBase_ = 0;
}

QString PointStore::label(int index) const {
    const std::uint64_t ref = labels_[slot(index)];
    const auto length = static_cast<qsizetype>(ref & kMaxLabelLength);
    if (length == 0) {
        return QString();
    }
    const std::uint64_t position = (ref >> kLengthBits) - poolBase_;
    return QString(reinterpret_cast<const QChar*>(pool_.data() + position), length);
}

bool PointStore::labelIsBlank(int index) const {
    const std::uint64_t ref = labels_[slot(index)];
    const auto length = ref & kMaxLabelLength;
    const std::uint64_t position = (ref >> kLengthBits) - poolBase_;
    for (std::uint64_t i = 0; i < length; ++i) {
        if (!QChar(pool_[position + i]).isSpace()) {
            return false;
        }
    }
    return true;
}

PointStore::Runs PointStore::runs() const {
    Runs r{nullptr, nullptr, 0, nullptr, nullptr, 0};
    if (size_ == 0) {
        return r;
    }
    const int capacity = mask_ + 1;
    const int firstCount = std::min(size_, capacity - head_);
    r.xFirst = xs_.data() + head_;
    r.yFirst = ys_.data() + head_;
    r.firstCount = firstCount;
    r.xSecond = xs_.data();
    r.ySecond = ys_.data();
    r.secondCount = size_ - firstCount;
    return r;
}

std::size_t PointStore::bytesReserved() const {
    return xs_.capacity() * sizeof(double) + ys_.capacity() * sizeof(double) +
           labels_.capacity() * sizeof(std::uint64_t) + pool_.capacity() * sizeof(char16_t);
}

void PointStore::grow() {
    const int oldCapacity = mask_ + 1;
    const int newCapacity = oldCapacity == 0 ? 16 : oldCapacity * 2;
    std::vector<double> xs(newCapacity);
    std::vector<double> ys(newCapacity);
    std::vector<std::uint64_t> labels(newCapacity);
    for (int i = 0; i < size_; ++i) {
        const int s = slot(i);
        xs[i] = xs_[s];
        ys[i] = ys_[s];
        labels[i] = labels_[s];
    }
    xs_.swap(xs);
    ys_.swap(ys);
    labels_.swap(labels);
    head_ = 0;
    mask_ = newCapacity - 1;
}

// Characters before the oldest live label are dead. Dropping them when they outweigh the live
// ones keeps the pool bounded at a cost spread thinly over the appends.
void PointStore::compactLabelPool() {
    std::uint64_t firstLive = poolBase_ + pool_.size();
    // Only the head can hold the lowest position: points keep the order in which they were
    // appended, so positions rise with the index.
    firstLive = std::min(firstLive, labels_[slot(0)] >> kLengthBits);
    const std::uint64_t dead = firstLive - poolBase_;
    const std::uint64_t live = pool_.size() - dead;
    if (dead < 4096 || dead < live) {
        return;
    }
    pool_.erase(pool_.begin(), pool_.begin() + static_cast<std::ptrdiff_t>(dead));
    poolBase_ = firstLive;
}

}  // namespace tamlo::chart
