#include "common/settings.h"

#include "common/scramble.h"

namespace tarvi {
namespace {

Text num(std::int64_t v) { return decimal(v); }

BoundKey i16(const char* name, std::int16_t& f, std::int16_t def) {
  return {{ascii(name), Width::Int16, num(def)}, &f};
}

}  // namespace

std::vector<BoundKey> generalKeys(GeneralSettings& s) {
  const GeneralSettings d;  // defaults
  std::vector<BoundKey> k = {
      i16("accountno", s.accountno, d.accountno),
      i16("Option1value", s.Option1value, d.Option1value),
      i16("Option2value", s.Option2value, d.Option2value),
      i16("Option3value", s.Option3value, d.Option3value),
      i16("Option4value", s.Option4value, d.Option4value),
      i16("Option5value", s.Option5value, d.Option5value),
      i16("Option6value", s.Option6value, d.Option6value),
      i16("Option7value", s.Option7value, d.Option7value),
      i16("Option8value", s.Option8value, d.Option8value),
      i16("Option9value", s.Option9value, d.Option9value),
      i16("Option10value", s.Option10value, d.Option10value),
      i16("Option11value", s.Option11value, d.Option11value),
      i16("sOption11value", s.sOption11value, d.sOption11value),
      i16("Checktimerval", s.Checktimerval, d.Checktimerval),
      i16("Closetimerval", s.Closetimerval, d.Closetimerval),
      i16("Timeupval", s.Timeupval, d.Timeupval),
      i16("Lighttimerval", s.Lighttimerval, d.Lighttimerval),
      {{u"Mailerdir1", Width::Text, u""}, &s.Mailerdir[1]},
      {{u"Mailerdir2", Width::Text, u""}, &s.Mailerdir[2]},
      {{u"Wavdir", Width::Text, u""}, &s.Wavdir},
  };
  for (int i = 0; i < kHotkeyCount; ++i)
    k.push_back({{u"Hotkeynum" + decimal(i), Width::Int16, num(113 + i)}, &s.Hotkeynum[i]});
  for (int i = 0; i < kGridColumns; ++i)
    k.push_back({{u"grdWidth" + decimal(i), Width::Int16, num(kDefaultGridWidths[i])},
                 &s.grdWidth[i]});
  k.push_back(i16("frmWidth", s.frmWidth, d.frmWidth));
  k.push_back(i16("frmHeight", s.frmHeight, d.frmHeight));
  k.push_back(i16("Defdialno", s.Defdialno, d.Defdialno));
  k.push_back(i16("Redialval", s.Redialval, d.Redialval));
  return k;
}

std::vector<BoundKey> accountKeys(int n, AccountSettings& a) {
  const Text sfx = decimal(n);
  const AccountSettings d;
  return {
      {{u"Aname" + sfx, Width::Text, u""}, &a.Aname},
      {{u"Hname" + sfx, Width::Text, u""}, &a.Hname},
      {{u"Portno" + sfx, Width::Int16, num(d.Portno)}, &a.Portno},
      {{u"Uname" + sfx, Width::Text, u""}, &a.Uname},
      {{u"Passw" + sfx, Width::Text, u""}, &a.Passw},
      {{u"Check" + sfx, Width::Int16, num(d.Check)}, &a.Check},
      {{u"Scolor1" + sfx, Width::Int32, num(d.Scolor1)}, &a.Scolor1},
      {{u"Scolor2" + sfx, Width::Int32, num(d.Scolor2)}, &a.Scolor2},
      {{u"Wavmode" + sfx, Width::Int16, num(d.Wavmode)}, &a.Wavmode},
      {{u"Wavdir2_" + sfx, Width::Text, u""}, &a.Wavdir2_},
  };
}

std::vector<KeyDef> schema() {
  GeneralSettings g;
  AccountSettings a;
  std::vector<KeyDef> out;
  for (auto& k : generalKeys(g)) out.push_back(k.def);
  for (auto& k : accountKeys(0, a)) {
    KeyDef d = k.def;
    d.name.pop_back();  // drop the "0": the prefix alone
    out.push_back(d);
  }
  return out;
}

bool readKey(const SettingsStore& store, const BoundKey& key) {
  const Text v = store.read(key.def.name, key.def.fallback);
  if (auto* p = std::get_if<Text*>(&key.field)) {
    **p = v;
    return true;
  }
  if (auto* p = std::get_if<std::int16_t*>(&key.field)) {
    auto n = parseInt16(v);
    if (!n) return false;
    **p = *n;
    return true;
  }
  auto n = parseInt32(v);
  if (!n) return false;
  *std::get<std::int32_t*>(key.field) = *n;
  return true;
}

void saveValue(SettingsStore& store, const Text& key, std::int32_t number, const Text& text) {
  if (!text.empty() || key == u"Mailerdir1" || key == u"Mailerdir2" || key == u"Wavdir")
    store.put(key, text);
  else
    store.put(key, decimal(number));
}

void clearAccount(AccountSettings& a) { a = AccountSettings{}; }

void loadAccount(const SettingsStore& store, int n, AccountSettings& a) {
  for (const auto& k : accountKeys(n, a)) readKey(store, k);
  a.Passw = a.Passw.empty() ? Text() : unscramblePass(a.Passw);
}

void saveAccount(SettingsStore& store, int n, const AccountSettings& a) {
  AccountSettings copy = a;
  copy.Passw = scramblePass(a.Passw);
  for (const auto& k : accountKeys(n, copy)) {
    if (auto* t = std::get_if<Text*>(&k.field))
      saveValue(store, k.def.name, 0, **t);
    else if (auto* s = std::get_if<std::int16_t*>(&k.field))
      saveValue(store, k.def.name, **s, u"");
    else  // the colours go in directly as decimal text
      store.put(k.def.name, decimal(*std::get<std::int32_t*>(k.field)));
  }
}

}  // namespace tarvi
