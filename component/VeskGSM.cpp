// The component object: construction, destruction, properties and their
// persistence, and the port and speed conversions.
#include "component/VeskGSM.h"

#include "incoming/Reassembly.h"
#include "port/Connection.h"
#include "threads/ComThread.h"

namespace vesk {

TVeskGSM::TVeskGSM(TComponent* AOwner)
    : TComponent(AOwner), FSMSContainer(std::make_unique<TConcatenatedSMSCollection>()) {
  MakeLink();
  InitHealth();
}

TVeskGSM::~TVeskGSM() {
  // From here on Open refuses. The connection ends, reconnection stops,
  // and the threads leave the component before its fields go.
  EndHealth();
  Destroying();
  FLink->OwnerDestroyed();
}

std::shared_ptr<SerialDevice> TVeskGSM::PortDevice() const { return FLink->Device(); }

AnsiString TVeskGSM::GetFPort() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FPort;
}

AnsiString TVeskGSM::NotOpenMessage() const { return GetFPort() + " is not open. GSM Modem is not connected."; }

void TVeskGSM::SetSerialPlatform(std::shared_ptr<SerialPlatform> platform) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FPlatform = std::move(platform);
}

std::shared_ptr<SerialPlatform> TVeskGSM::GetSerialPlatform() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FPlatform ? FPlatform : DefaultSerialPlatform();
}

// ---------------------------------------------------------------- getters

TCommPort TVeskGSM::GetCommPort() const { return StringToCommPort(GetFPort()); }

TBaudRate TVeskGSM::GetBaudRate() const { return IntToBaudRate(FBaudRate); }

TDataWidth TVeskGSM::GetDataWidth() const {
  switch (FDataWidth.load()) {
    case 5: return dw5Bits;
    case 6: return dw6Bits;
    case 7: return dw7Bits;
    default: return dw8Bits;
  }
}

TStopBits TVeskGSM::GetStopBits() const { return static_cast<TStopBits>(FStopBits.load()); }
TParityBits TVeskGSM::GetParity() const { return static_cast<TParityBits>(FParity.load()); }

AnsiString TVeskGSM::GetCustomPortName() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FCustomPortName;
}

AnsiString TVeskGSM::GetPIN() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FPin;
}

UnicodeString TVeskGSM::GetLogFile() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FLogFile;
}

// ---------------------------------------------------------------- setters

void TVeskGSM::ReapplyLineSettings() {
  if (std::shared_ptr<SerialDevice> device = PortDevice()) SetDCBState(device.get());
}

void TVeskGSM::SetCommPort(TCommPort value) {
  if (GetCommPort() == value) return;
  AnsiString name = CommPortToString(value);
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FPort = name;
}

void TVeskGSM::SetCustomPortName(const AnsiString& value) {
  bool custom = GetCommPort() == spCustom;
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FCustomPortName = Trim(value);
  if (custom) FPort = FCustomPortName;
}

void TVeskGSM::SetBaudRate(TBaudRate value) {
  FBaudRate = BaudRateToInt(value);
  ReapplyLineSettings();
}

void TVeskGSM::SetCustomBaudRate(int value) {
  FCustomBaudRate = value;
  if (GetBaudRate() == brCustom) {
    FBaudRate = value;
    ReapplyLineSettings();
  }
}

void TVeskGSM::SetDataWidth(TDataWidth value) {
  std::uint8_t stop = FStopBits;
  if ((value == dw5Bits && stop == 2) || (value != dw5Bits && stop == 1))
    throw EVeskGSMException("Invalid data-width and stop-bits combination.");
  FDataWidth = static_cast<std::uint8_t>(5 + value);
  ReapplyLineSettings();
}

void TVeskGSM::SetStopBits(TStopBits value) {
  std::uint8_t width = FDataWidth;
  if ((value == sb1_5Bits && width != 5) || (value == sb2Bits && width == 5))
    throw EVeskGSMException("Invalid data-width and stop-bits combination.");
  FStopBits = static_cast<std::uint8_t>(value);
  ReapplyLineSettings();
}

void TVeskGSM::SetParity(TParityBits value) {
  FParity = static_cast<std::uint8_t>(value);
  ReapplyLineSettings();
}

void TVeskGSM::SetEnableDTROnOpen(bool value) {
  if (FEnableDTROnOpen.exchange(value) != value) ReapplyLineSettings();
}

void TVeskGSM::SetEnableRTSOnOpen(bool value) {
  if (FEnableRTSOnOpen.exchange(value) != value) ReapplyLineSettings();
}

void TVeskGSM::SetHwFlowControl(THwFlowControl value) {
  if (FHwFlowControl.exchange(value) != value) ReapplyLineSettings();
}

void TVeskGSM::SetSwFlowControl(TSwFlowControl value) {
  if (FSwFlowControl.exchange(value) != value) ReapplyLineSettings();
}

void TVeskGSM::SetPriority(TThreadPriority value) {
  if (FPriority.exchange(value) == value) return;
  if (std::shared_ptr<TComThread> thread = FLink->Reader()) thread->SetPriority(value);
}

void TVeskGSM::SetPIN(const AnsiString& value) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FPin = value;
}

void TVeskGSM::SetLogFile(const UnicodeString& value) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FLogFile = value;
}

// ---------------------------------------------------------------- conversions

TCommPort TVeskGSM::StringToCommPort(const AnsiString& Port) const {
  AnsiString s = UpperCase(Trim(Port));
  if (s.size() < 4 || s.size() > 6 || s.compare(0, 3, "COM") != 0 || s[3] == '0') return spCustom;
  int n = 0;
  for (std::size_t i = 3; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return spCustom;
    n = n * 10 + (s[i] - '0');
  }
  return n >= 1 && n <= 254 ? static_cast<TCommPort>(n) : spCustom;
}

AnsiString TVeskGSM::CommPortToString(TCommPort Port) const {
  if (Port == spNone) return "";
  if (Port == spCustom) {
    AnsiString custom = GetCustomPortName();
    return Trim(custom).empty() ? AnsiString("vcom1") : custom;
  }
  return "COM" + IntToStr(Port);
}

int TVeskGSM::BaudRateToInt(TBaudRate pBaudRate) const {
  return pBaudRate == brCustom ? FCustomBaudRate.load() : BaudRateSpeed(pBaudRate);
}

TBaudRate TVeskGSM::IntToBaudRate(int Value) const {
  for (int i = 0; i < brCustom; ++i)
    if (BaudRateSpeed(static_cast<TBaudRate>(i)) == Value) return static_cast<TBaudRate>(i);
  return brCustom;
}

// ---------------------------------------------------------------- persistence

namespace {

// A property of type T, written with `toText` and read with `fromText`
// (which returns false on text that is not a value of T).
template <class T, class ToText, class FromText>
TPropertyInfo Property(const char* name, std::function<T()> get, std::function<void(T)> set, T def, ToText toText,
                       FromText fromText) {
  return {name, [get, toText] { return toText(get()); },
          [set, fromText](const AnsiString& text) {
            T v{};
            if (!fromText(text, v)) return false;
            set(v);
            return true;
          },
          [get, def] { return get() == def; }};
}

template <class E>
TPropertyInfo EnumProperty(const char* name, std::function<E()> get, std::function<void(E)> set, E def) {
  return Property<E>(name, get, set, def, [](E v) { return EnumName(v); },
                     [](const AnsiString& t, E& v) { return EnumFromName(t, v); });
}

TPropertyInfo BoolProperty(const char* name, std::function<bool()> get, std::function<void(bool)> set, bool def) {
  return Property<bool>(name, get, set, def, BoolToText, TextToBool);
}

TPropertyInfo IntProperty(const char* name, std::function<int()> get, std::function<void(int)> set, int def) {
  return Property<int>(name, get, set, def, [](int v) { return IntToStr(v); }, TryStrToInt);
}

// A set of table values, written as the framework writes sets:
// "[stSpanish,stTurkish]", members in their declared order.
AnsiString TablesToText(TNationalLanguageShiftTablesSet set) {
  AnsiString text = "[";
  for (int i = 0; i <= stUrdu; ++i) {
    const auto v = static_cast<TNationalLanguageShiftTables>(i);
    if (!set.Contains(v)) continue;
    if (text.size() > 1) text += ",";
    text += EnumName(v);
  }
  return text + "]";
}

bool TextToTables(const AnsiString& text, TNationalLanguageShiftTablesSet& set) {
  const AnsiString t = Trim(text);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  set = TNationalLanguageShiftTablesSet();
  const AnsiString inside = t.substr(1, t.size() - 2);
  std::size_t from = 0;
  while (from <= inside.size() && !Trim(inside).empty()) {
    const std::size_t comma = inside.find(',', from);
    const AnsiString name = Trim(inside.substr(from, comma == AnsiString::npos ? AnsiString::npos : comma - from));
    TNationalLanguageShiftTables v;
    if (!EnumFromName(name, v)) return false;
    set.Include(v);
    if (comma == AnsiString::npos) break;
    from = comma + 1;
  }
  return true;
}

TPropertyInfo StringProperty(const char* name, std::function<AnsiString()> get,
                             std::function<void(const AnsiString&)> set, const AnsiString& def) {
  return Property<AnsiString>(name, get, set, def, QuoteString, UnquoteString);
}

}  // namespace

std::vector<TPropertyInfo> TVeskGSM::PublishedProperties() {
  // Declaration order. Properties without a declared default (CustomBaudRate,
  // MessageFormat, Delay, Interval) are compared with their initial values,
  // so that a new component writes nothing. Port is written only once a
  // port has been chosen: a new component reads spCustom with nothing
  // selected.
  TPropertyInfo port = EnumProperty<TCommPort>(
      "Port", [this] { return GetCommPort(); }, [this](TCommPort v) { SetCommPort(v); }, spNone);
  port.IsDefault = [this] { return GetFPort().empty(); };
  return {
      port,
      EnumProperty<TBaudRate>(
          "BaudRate", [this] { return GetBaudRate(); }, [this](TBaudRate v) { SetBaudRate(v); }, br004800),
      EnumProperty<TDataWidth>(
          "DataWidth", [this] { return GetDataWidth(); }, [this](TDataWidth v) { SetDataWidth(v); }, dw8Bits),
      EnumProperty<TStopBits>(
          "StopBits", [this] { return GetStopBits(); }, [this](TStopBits v) { SetStopBits(v); }, sb1Bit),
      EnumProperty<TParityBits>(
          "Parity", [this] { return GetParity(); }, [this](TParityBits v) { SetParity(v); }, pbNone),
      BoolProperty(
          "EnableDTROnOpen", [this] { return GetEnableDTROnOpen(); }, [this](bool v) { SetEnableDTROnOpen(v); }, true),
      BoolProperty(
          "EnableRTSOnOpen", [this] { return GetEnableRTSOnOpen(); }, [this](bool v) { SetEnableRTSOnOpen(v); }, true),
      EnumProperty<THwFlowControl>(
          "HwFlowControl", [this] { return GetHwFlowControl(); }, [this](THwFlowControl v) { SetHwFlowControl(v); },
          hfNONE),
      EnumProperty<TSwFlowControl>(
          "SwFlowControl", [this] { return GetSwFlowControl(); }, [this](TSwFlowControl v) { SetSwFlowControl(v); },
          sfNONE),
      EnumProperty<TThreadPriority>(
          "Priority", [this] { return GetPriority(); }, [this](TThreadPriority v) { SetPriority(v); }, tpNormal),
      StringProperty(
          "CustomPortName", [this] { return GetCustomPortName(); },
          [this](const AnsiString& v) { SetCustomPortName(v); }, "vcom1"),
      IntProperty(
          "CustomBaudRate", [this] { return GetCustomBaudRate(); }, [this](int v) { SetCustomBaudRate(v); }, 0),
      BoolProperty(
          "AutoReadNewMessage", [this] { return GetAutoReadNewMessage(); },
          [this](bool v) { SetAutoReadNewMessage(v); }, true),
      EnumProperty<TMessageFormat>(
          "MessageFormat", [this] { return GetMessageFormat(); }, [this](TMessageFormat v) { SetMessageFormat(v); },
          mfDefault),
      IntProperty(
          "Delay", [this] { return GetDelay(); }, [this](int v) { SetDelay(v); }, 600),
      IntProperty(
          "Interval", [this] { return GetInterval(); }, [this](int v) { SetInterval(v); }, 600),
      StringProperty(
          "PIN", [this] { return GetPIN(); }, [this](const AnsiString& v) { SetPIN(v); }, ""),
      Property<TNationalLanguageShiftTablesSet>(
          "NationalLanguageTables", [this] { return GetNationalLanguageTables(); },
          [this](TNationalLanguageShiftTablesSet v) { SetNationalLanguageTables(v); },
          TNationalLanguageShiftTablesSet(), TablesToText, TextToTables),
      // Delivery reports and direct delivery.
      BoolProperty(
          "StatusReportRequest", [this] { return GetStatusReportRequest(); },
          [this](bool v) { SetStatusReportRequest(v); }, false),
      IntProperty(
          "ValidityPeriod", [this] { return GetValidityPeriod(); }, [this](int v) { SetValidityPeriod(v); }, 0),
      EnumProperty<TNewMessageIndication>(
          "NewMessageIndication", [this] { return GetNewMessageIndication(); },
          [this](TNewMessageIndication v) { SetNewMessageIndication(v); }, nmStore),
      IntProperty(
          "StoredMessageCheckInterval", [this] { return GetStoredMessageCheckInterval(); },
          [this](int v) { SetStoredMessageCheckInterval(v); }, 0),
  };
}

// ---------------------------------------------------------------- registration

void Register() {
  RegisterComponents("Vesk Soft", {{"TVeskGSM", [](TComponent* owner) -> TComponent* { return new TVeskGSM(owner); }}});
}

}  // namespace vesk
