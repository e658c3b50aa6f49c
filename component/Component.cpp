#include "component/Component.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace vesk {

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  Destroying();
  // Each owned component removes itself from components_ as it goes.
  while (!components_.empty()) delete components_.back();
  if (owner_) {
    auto& siblings = owner_->components_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  return components_[static_cast<std::size_t>(index)];
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  SetState(csDestroying, true);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::SetState(TComponentStateFlag flag, bool on) {
  std::uint64_t bit = std::uint64_t{1} << flag;
  if (on)
    state_.fetch_or(bit);
  else
    state_.fetch_and(~bit);
}

// ---------------------------------------------------------------- persistence

AnsiString QuoteString(const AnsiString& s) {
  AnsiString out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

bool UnquoteString(const AnsiString& text, AnsiString& s) {
  if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return false;
  AnsiString out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\'') {
      if (i + 2 < text.size() && text[i + 1] == '\'') {
        out += '\'';
        ++i;
        continue;
      }
      return false;
    }
    out += text[i];
  }
  s = out;
  return true;
}

AnsiString BoolToText(bool b) { return b ? "True" : "False"; }

bool TextToBool(const AnsiString& text, bool& b) {
  if (text == "True") {
    b = true;
    return true;
  }
  if (text == "False") {
    b = false;
    return true;
  }
  return false;
}

AnsiString WriteComponentText(TComponent& component) {
  AnsiString out;
  for (const TPropertyInfo& p : component.PublishedProperties())
    if (!p.IsDefault()) out += p.Name + " = " + p.Get() + "\r\n";
  return out;
}

void ReadComponentText(TComponent& component, const AnsiString& text) {
  std::vector<TPropertyInfo> props = component.PublishedProperties();
  std::size_t start = 0;
  int lineNo = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    AnsiString line = text.substr(start, end == AnsiString::npos ? AnsiString::npos : end - start);
    start = end == AnsiString::npos ? text.size() + 1 : end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Trim(line).empty()) continue;
    std::size_t eq = line.find('=');
    if (eq == AnsiString::npos)
      throw EReadError("Line " + IntToStr(lineNo) + ": expected Name = Value: " + line);
    AnsiString name = Trim(line.substr(0, eq));
    AnsiString value = Trim(line.substr(eq + 1));
    auto it = std::find_if(props.begin(), props.end(), [&](const TPropertyInfo& p) { return p.Name == name; });
    if (it == props.end()) throw EReadError("Line " + IntToStr(lineNo) + ": property " + name + " does not exist");
    if (!it->Set(value))
      throw EReadError("Line " + IntToStr(lineNo) + ": invalid property value " + value + " for " + name);
  }
}

// ---------------------------------------------------------------- registration

namespace {

struct Palette {
  std::mutex mutex;
  std::vector<AnsiString> order;
  std::map<AnsiString, std::vector<TComponentClass>> pages;
};

Palette& ThePalette() {
  static Palette palette;
  return palette;
}

}  // namespace

void RegisterComponents(const AnsiString& page, const std::vector<TComponentClass>& classes) {
  Palette& p = ThePalette();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (!p.pages.count(page)) p.order.push_back(page);
  auto& list = p.pages[page];
  for (const TComponentClass& c : classes) {
    auto same = std::find_if(list.begin(), list.end(), [&](const TComponentClass& x) { return x.Name == c.Name; });
    if (same == list.end())
      list.push_back(c);
    else
      *same = c;
  }
}

std::vector<TComponentClass> RegisteredComponents(const AnsiString& page) {
  Palette& p = ThePalette();
  std::lock_guard<std::mutex> lock(p.mutex);
  auto it = p.pages.find(page);
  return it == p.pages.end() ? std::vector<TComponentClass>{} : it->second;
}

std::vector<AnsiString> PalettePages() {
  Palette& p = ThePalette();
  std::lock_guard<std::mutex> lock(p.mutex);
  return p.order;
}

}  // namespace vesk
