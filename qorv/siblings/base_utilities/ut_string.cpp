#include "qorv/siblings/base_utilities/ut_string.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qorv::siblings {

// One allocation: the header, then capacity + 1 bytes of characters (always zero-terminated).
struct utString::Rep : utRef {
  std::size_t length;
  std::size_t capacity;
  char* chars() { return reinterpret_cast<char*>(this + 1); }
};

utString::Rep* utString::make(const char* text, std::size_t length, std::size_t capacity) {
  capacity = std::max(capacity, length);
  void* block = ::operator new(sizeof(Rep) + capacity + 1);
  Rep* rep = new (block) Rep;
  rep->length = length;
  rep->capacity = capacity;
  if (length != 0) std::memcpy(rep->chars(), text, length);
  rep->chars()[length] = '\0';
  return rep;
}

void utString::release(Rep* rep) {
  if (rep != nullptr && rep->unref()) {
    rep->~Rep();
    ::operator delete(rep);
  }
}

utString::utString(const char* text) {
  if (text != nullptr) rep_ = make(text, std::strlen(text), 0);
}

utString::utString(const char* text, std::size_t length) {
  if (text != nullptr) rep_ = make(text, length, 0);
}

utString::utString(const utString& other) : rep_(other.rep_) {
  if (rep_ != nullptr) rep_->ref();
}

utString& utString::operator=(const utString& other) {
  if (other.rep_ != nullptr) other.rep_->ref();
  release(rep_);
  rep_ = other.rep_;
  return *this;
}

utString& utString::operator=(utString&& other) noexcept {
  if (this != &other) {
    release(rep_);
    rep_ = other.rep_;
    other.rep_ = nullptr;
  }
  return *this;
}

utString::~utString() { release(rep_); }

std::size_t utString::length() const { return rep_ == nullptr ? 0 : rep_->length; }

const char* utString::c_str() const { return rep_ == nullptr ? "" : rep_->chars(); }

void utString::own(std::size_t capacity) {
  if (rep_ != nullptr && !rep_->shared() && rep_->capacity >= capacity) return;
  Rep* fresh = make(c_str(), length(), capacity);
  release(rep_);
  rep_ = fresh;
}

std::size_t utString::convert(char from, char to) {
  if (rep_ == nullptr || std::memchr(rep_->chars(), from, rep_->length) == nullptr) return 0;
  own(rep_->length);
  std::size_t n = 0;
  for (char* p = rep_->chars(); p != rep_->chars() + rep_->length; ++p) {
    if (*p == from) {
      *p = to;
      ++n;
    }
  }
  return n;
}

utString& utString::append(const char* text, std::size_t n) {
  if (text == nullptr) return *this;
  const std::size_t old = length();
  // The text may live in this string's own buffer: copy it before the buffer can move.
  const std::string copy(text, n);
  own(std::max(old + n, old + old / 2));
  std::memcpy(rep_->chars() + old, copy.data(), n);
  rep_->length = old + n;
  rep_->chars()[rep_->length] = '\0';
  return *this;
}

utString& utString::operator+=(const char* text) {
  return text == nullptr ? *this : append(text, std::strlen(text));
}

utString utString::extract_string(std::size_t& position, const char* separators) const {
  const std::string_view text = view();
  const std::string_view seps = separators == nullptr ? std::string_view() : separators;
  std::size_t begin = std::min(position, text.size());
  while (begin < text.size() && seps.find(text[begin]) != std::string_view::npos) ++begin;
  if (begin == text.size()) {
    position = begin;
    return utString();
  }
  std::size_t end = begin;
  while (end < text.size() && seps.find(text[end]) == std::string_view::npos) ++end;
  position = end;
  return utString(text.data() + begin, end - begin);
}

int utString::compare(const utString& other) const {
  const int c = view().compare(other.view());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::wstring utString::to_wide() const {
  std::wstring out;
  out.reserve(length());
  for (const char c : view()) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace qorv::siblings
