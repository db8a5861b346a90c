// Case-insensitive names and the insertion-ordered map of the INI document.
#pragma once
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz {

// Letters compare as wcsicmp does in the C locale: A-Z folded to a-z, nothing else.
inline uint32_t fold_char(wchar_t c) {
  uint32_t u = static_cast<uint32_t>(c);
  return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

struct char_traitsi : std::char_traits<wchar_t> {
  static bool eq(wchar_t a, wchar_t b) { return fold_char(a) == fold_char(b); }
  static bool lt(wchar_t a, wchar_t b) { return fold_char(a) < fold_char(b); }
  static int compare(const wchar_t* a, const wchar_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      uint32_t x = fold_char(a[i]), y = fold_char(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    return 0;
  }
  static const wchar_t* find(const wchar_t* s, size_t n, wchar_t c) {
    for (size_t i = 0; i < n; ++i)
      if (eq(s[i], c)) return s + i;
    return nullptr;
  }
};

template <class Traits>
using _stringx = std::basic_string<wchar_t, Traits>;
using istring = _stringx<char_traitsi>;
using istring_view = std::basic_string_view<wchar_t, char_traitsi>;

inline istring_view iview(std::wstring_view s) { return istring_view(s.data(), s.size()); }
inline std::wstring to_wstring(istring_view s) { return std::wstring(s.data(), s.size()); }
// Compare over the shorter length, then the shorter name first.
inline int icompare(std::wstring_view a, std::wstring_view b) { return iview(a).compare(iview(b)); }
inline bool iequal(std::wstring_view a, std::wstring_view b) { return a.size() == b.size() && icompare(a, b) == 0; }
inline bool istarts_with(std::wstring_view s, std::wstring_view prefix) {
  return s.size() >= prefix.size() && icompare(s.substr(0, prefix.size()), prefix) == 0;
}

// Items in insertion order plus an index from name to position. Names are unique
// ignoring case: adding a present name returns the present item.
template <class T>
class vector_map_i {
 public:
  using item = std::pair<istring, T>;
  using const_iterator = typename std::vector<item>::const_iterator;
  using iterator = typename std::vector<item>::iterator;

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }

  // Position of the name, or npos.
  static constexpr size_t npos = static_cast<size_t>(-1);
  size_t position(std::wstring_view name) const {
    auto it = index_.find(iview(name));
    return it == index_.end() ? npos : it->second;
  }
  bool contains(std::wstring_view name) const { return position(name) != npos; }
  T* find(std::wstring_view name) {
    size_t p = position(name);
    return p == npos ? nullptr : &items_[p].second;
  }
  const T* find(std::wstring_view name) const {
    size_t p = position(name);
    return p == npos ? nullptr : &items_[p].second;
  }

  // The present item of that name, or a new one appended at the end.
  T& add(std::wstring_view name, bool* added = nullptr) {
    size_t p = position(name);
    if (added) *added = p == npos;
    if (p != npos) return items_[p].second;
    items_.emplace_back(istring(name.data(), name.size()), T());
    index_.emplace(items_.back().first, static_cast<uint32_t>(items_.size() - 1));
    return items_.back().second;
  }

  bool erase(std::wstring_view name) {
    auto it = index_.find(iview(name));
    if (it == index_.end()) return false;
    uint32_t p = it->second;
    index_.erase(it);
    items_.erase(items_.begin() + p);
    for (auto& e : index_)
      if (e.second > p) --e.second;
    return true;
  }

  // Keeps the position; false when the old name is absent or the new one present.
  bool rename(std::wstring_view old_name, std::wstring_view new_name) {
    auto it = index_.find(iview(old_name));
    if (it == index_.end() || index_.count(iview(new_name))) return false;
    uint32_t p = it->second;
    index_.erase(it);
    items_[p].first.assign(new_name.data(), new_name.size());
    index_.emplace(items_[p].first, p);
    return true;
  }

  // Moves the item directly after the anchor; false when either is absent.
  bool move_after(std::wstring_view name, std::wstring_view anchor) {
    size_t from = position(name), to = position(anchor);
    if (from == npos || to == npos) return false;
    if (from == to) return true;
    item moving = std::move(items_[from]);
    items_.erase(items_.begin() + from);
    if (to > from) --to;
    items_.insert(items_.begin() + to + 1, std::move(moving));
    reindex();
    return true;
  }

  void sort() {
    std::sort(items_.begin(), items_.end(), [](const item& a, const item& b) { return a.first < b.first; });
    reindex();
  }

  void clear() {
    items_.clear();
    index_.clear();
  }

 private:
  void reindex() {
    index_.clear();
    for (size_t i = 0; i < items_.size(); ++i) index_.emplace(items_[i].first, static_cast<uint32_t>(i));
  }

  std::vector<item> items_;
  std::map<istring, uint32_t, std::less<>> index_;
};

}  // namespace qz
