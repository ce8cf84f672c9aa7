#include "console/cell_grid.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

const TCell& TCellGrid::at(std::size_t i) const {
    if (i >= size_) throw std::out_of_range("TCellGrid::at");
    return data()[i];
}

void TCellGrid::assign(std::size_t count, const TCell& fill) {
    store_.assign(count, fill);
    offset_ = 0;
    size_ = count;
}

void TCellGrid::Adopt(std::vector<TCell>&& cells) {
    store_ = std::move(cells);
    offset_ = 0;
    size_ = store_.size();
}

void TCellGrid::shrink_to_fit() {
    Adopt(std::vector<TCell>(begin(), end()));
}

void TCellGrid::ScrollUp(std::size_t width, const TCell& fill) {
    if (width == 0 || width > size_) return;
    if (offset_ + size_ + width <= store_.size()) {
        offset_ += width;
    } else {
        // The store is grown once, on the first scroll, so that screens that
        // never scroll keep no room for it.
        const std::size_t room = size_ * (1 + kSlackScreens);
        if (store_.size() < room) store_.resize(room);
        std::memmove(store_.data(), store_.data() + offset_ + width,
                     (size_ - width) * sizeof(TCell));
        offset_ = 0;
    }
    std::fill(end() - static_cast<std::ptrdiff_t>(width), end(), fill);
}
