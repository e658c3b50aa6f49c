// The component base: owner-managed lifetime, a name, a being-destroyed
// state, published properties that can be written to text and read back,
// and the registry of component classes by palette page.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

#include "component/Framework.h"

namespace vesk {

enum TComponentStateFlag : std::uint8_t { csLoading, csReading, csWriting, csDestroying, csDesigning };
using TComponentState = TSet<TComponentStateFlag, 8>;

// One published property, as the persistence sees it.
struct TPropertyInfo {
  AnsiString Name;
  // The value as text: enumeration names ("br115200"), True/False,
  // decimal integers, strings in single quotes with '' for a quote.
  std::function<AnsiString()> Get;
  // Sets the value from such a text; false when the text is not a value of
  // the property's type. May raise the property setter's own exception.
  std::function<bool(const AnsiString&)> Set;
  // Not written while this is true: the value equals the declared default.
  std::function<bool()> IsDefault;
};

// Raised by ReadComponentText on a line it cannot apply.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

class TComponent : public TObject {
 public:
  // Joins the owner's list of components; the owner destroys it.
  explicit TComponent(TComponent* AOwner);
  // Destroys the components it owns, then leaves its owner's list.
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* GetOwner() const { return owner_; }
  const AnsiString& GetName() const { return name_; }
  void SetName(const AnsiString& name) { name_ = name; }
  // Safe to read from any thread.
  TComponentState GetComponentState() const { return TComponentState::FromBits(state_.load()); }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;

  // Enters the being-destroyed state, with everything it owns. A derived
  // destructor calls it first, so that work still running elsewhere can
  // tell that the object is going.
  void Destroying();
  bool IsDestroying() const { return GetComponentState().Contains(csDestroying); }

  virtual AnsiString ClassName() const { return "TComponent"; }
  // The published properties in declaration order.
  virtual std::vector<TPropertyInfo> PublishedProperties() { return {}; }

 protected:
  void SetState(TComponentStateFlag flag, bool on);

 private:
  TComponent* owner_ = nullptr;
  AnsiString name_;
  std::atomic<std::uint64_t> state_{0};
  std::vector<TComponent*> components_;
};

// Writes the published properties whose values differ from their defaults,
// one "Name = Value" line each (CR LF ended), in declaration order. A
// component at its defaults gives the empty text.
AnsiString WriteComponentText(TComponent& component);
// Applies such text to a component: blank lines are skipped, every other
// line must be "Name = Value" for one of its published properties. Raises
// EReadError naming the line that fails; the lines before it stay applied.
void ReadComponentText(TComponent& component, const AnsiString& text);

// Helpers for property texts.
AnsiString QuoteString(const AnsiString& s);
bool UnquoteString(const AnsiString& text, AnsiString& s);
AnsiString BoolToText(bool b);
bool TextToBool(const AnsiString& text, bool& b);

// ---------------------------------------------------------------- registration

struct TComponentClass {
  AnsiString Name;
  std::function<TComponent*(TComponent* owner)> Create;
};

// Puts component classes on a named palette page.
void RegisterComponents(const AnsiString& page, const std::vector<TComponentClass>& classes);
// The classes of a page, in registration order; empty for an unknown page.
std::vector<TComponentClass> RegisteredComponents(const AnsiString& page);
std::vector<AnsiString> PalettePages();

}  // namespace vesk
