// The component base: ownership, the being-destroyed state, persistence
// texts and the palette registry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "component/Component.h"

namespace vesk {
namespace {

struct Probe : TComponent {
  Probe(TComponent* owner, std::vector<AnsiString>* log, AnsiString name) : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~Probe() override {
    log_->push_back(GetName() + (IsDestroying() ? " destroying" : " not destroying"));
  }
  std::vector<AnsiString>* log_;
};

TEST(TComponent, AnOwnerDestroysWhatItOwns) {
  std::vector<AnsiString> log;
  auto* form = new Probe(nullptr, &log, "form");
  auto* a = new Probe(form, &log, "a");
  new Probe(form, &log, "b");
  new Probe(a, &log, "a1");
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(a->GetOwner(), form);
  delete form;
  // The base destructor runs after the derived one: the derived sees the
  // state only when it enters it itself; the owned components see it.
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], "form not destroying");
  EXPECT_EQ(log[1], "b destroying");
  EXPECT_EQ(log[2], "a destroying");  // a's own destructor ran first ...
  EXPECT_EQ(log[3], "a1 destroying");  // ... then the base destroyed a1
}

TEST(TComponent, DeletingAnOwnedComponentLeavesItsOwner) {
  std::vector<AnsiString> log;
  Probe form(nullptr, &log, "form");
  auto* a = new Probe(&form, &log, "a");
  delete a;
  EXPECT_EQ(form.ComponentCount(), 0);
}

TEST(Persistence, StringsAreQuotedWithDoubledQuotes) {
  EXPECT_EQ(QuoteString("it's"), "'it''s'");
  AnsiString s;
  ASSERT_TRUE(UnquoteString("'it''s'", s));
  EXPECT_EQ(s, "it's");
  EXPECT_TRUE(UnquoteString("''", s));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(UnquoteString("'a'b'", s));
  EXPECT_FALSE(UnquoteString("abc", s));
  bool b = false;
  EXPECT_TRUE(TextToBool("True", b));
  EXPECT_TRUE(b);
  EXPECT_FALSE(TextToBool("yes", b));
}

struct Settings : TComponent {
  Settings() : TComponent(nullptr) {}
  int speed = 9600;
  AnsiString name = "x";
  std::vector<TPropertyInfo> PublishedProperties() override {
    return {{"Speed", [this] { return IntToStr(speed); },
             [this](const AnsiString& t) { return TryStrToInt(t, speed); }, [this] { return speed == 9600; }},
            {"Name", [this] { return QuoteString(name); }, [this](const AnsiString& t) { return UnquoteString(t, name); },
             [this] { return name == "x"; }}};
  }
};

TEST(Persistence, WritesOnlyWhatDiffersAndReadsItBack) {
  Settings s;
  EXPECT_EQ(WriteComponentText(s), "");
  s.speed = 115200;
  s.name = "a 'b'";
  AnsiString text = WriteComponentText(s);
  EXPECT_EQ(text, "Speed = 115200\r\nName = 'a ''b'''\r\n");
  Settings t;
  ReadComponentText(t, "\r\n" + text + "\n");
  EXPECT_EQ(t.speed, 115200);
  EXPECT_EQ(t.name, "a 'b'");
}

TEST(Persistence, ReadingRefusesUnknownPropertiesAndBadValues) {
  Settings s;
  EXPECT_THROW(ReadComponentText(s, "Colour = 3"), EReadError);
  EXPECT_THROW(ReadComponentText(s, "Speed = fast"), EReadError);
  EXPECT_THROW(ReadComponentText(s, "Speed"), EReadError);
}

TEST(Persistence, LinesBeforeAFailureStayApplied) {
  Settings s;
  try {
    ReadComponentText(s, "Speed = 300\nSpeed = x");
    FAIL() << "expected EReadError";
  } catch (const EReadError& e) {
    EXPECT_NE(std::string(e.what()).find("Line 2"), std::string::npos);
  }
  EXPECT_EQ(s.speed, 300);
}

TEST(Registration, ClassesAreListedByPaletteAndCreatable) {
  RegisterComponents("Test Page", {{"TSettings", [](TComponent*) -> TComponent* { return new Settings; }}});
  auto classes = RegisteredComponents("Test Page");
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].Name, "TSettings");
  std::unique_ptr<TComponent> made(classes[0].Create(nullptr));
  EXPECT_NE(dynamic_cast<Settings*>(made.get()), nullptr);
  EXPECT_TRUE(RegisteredComponents("No Such Page").empty());
}

TEST(TextFile, AppendsLinesEndedByCrLfAndRaisesOnBadNames) {
  std::string path = ::testing::TempDir() + "vesk_append_test.txt";
  std::remove(path.c_str());
  AppendTextLine(path, "one");
  AppendTextLine(path, "two\r\nthree");
  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "one\r\ntwo\r\nthree\r\n");
  std::remove(path.c_str());
  EXPECT_THROW(AppendTextLine("", "x"), EInOutError);
  EXPECT_THROW(AppendTextLine("/nonexistent-folder/log.txt", "x"), EInOutError);
}

}  // namespace
}  // namespace vesk
