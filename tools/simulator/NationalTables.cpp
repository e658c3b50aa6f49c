#include "tools/simulator/NationalTables.h"

#include <array>
#include <string>
#include <vector>

#include "tools/simulator/GsmAlphabet.h"

namespace vesk::sim {

namespace {

struct Language {
  int identifier;
  const char* name;
  std::array<const char*, 8> locking;  // empty: none
  std::array<const char*, 8> single;
};

const Language kLanguages[] = {
    // A.3.1 locking shift, A.2.1 single shift
    {1, "Turkish",
     {
      "@£$¥€éùıòÇ\nĞğ\rÅå",
      "Δ_ΦΓΛΩΠΨΣΘΞ\x1B" "ŞşßÉ",
      " !\"#¤%&'()*+,-./",
      "0123456789:;<=>?",
      "İABCDEFGHIJKLMNO",
      "PQRSTUVWXYZÄÖÑÜ§",
      "çabcdefghijklmno",
      "pqrstuvwxyzäöñüà",
     },
     {
      "□□□□□□□□□□\f□□\r□□",
      "□□□□^□□□□□□□□□□□",
      "□□□□□□□□{}□□□□□\\",
      "□□□□□□□□□□□□[~]□",
      "|□□□□□□Ğ□İ□□□□□□",
      "□□□Ş□□□□□□□□□□□□",
      "□□□ç□€□ğ□ı□□□□□□",
      "□□□ş□□□□□□□□□□□□",
     }},
    // A.2.2 single shift
    {2, "Spanish",
     {},  // A.3.2 is void: no locking shift table
     {
      "□□□□□□□□□ç\f□□\r□□",
      "□□□□^□□□□□□□□□□□",
      "□□□□□□□□{}□□□□□\\",
      "□□□□□□□□□□□□[~]□",
      "|Á□□□□□□□Í□□□□□Ó",
      "□□□□□Ú□□□□□□□□□□",
      "□á□□□€□□□í□□□□□ó",
      "□□□□□ú□□□□□□□□□□",
     }},
    // A.3.3 locking shift, A.2.3 single shift
    {3, "Portuguese",
     {
      "@£$¥êéúíóç\nÔô\rÁá",
      "Δ_ªÇÀ∞^\\€Ó|\x1B" "ÂâÊÉ",
      " !\"#º%&'()*+,-./",
      "0123456789:;<=>?",
      "ÍABCDEFGHIJKLMNO",
      "PQRSTUVWXYZÃÕÚÜ§",
      "~abcdefghijklmno",
      "pqrstuvwxyzãõ`üà",
     },
     {
      "□□□□□ê□□□ç\fÔô\rÁá",
      "□□ΦΓ^ΩΠΨΣΘ□□□□□Ê",
      "□□□□□□□□{}□□□□□\\",
      "□□□□□□□□□□□□[~]□",
      "|À□□□□□□□Í□□□□□Ó",
      "□□□□□Ú□□□□□ÃÕ□□□",
      "□Â□□□€□□□í□□□□□ó",
      "□□□□□ú□□□□□ãõ□□â",
     }},
    // A.3.4 locking shift, A.2.4 single shift
    {4, "Bengali",
     {
      "ঁংঃঅআইঈউঊঋ\nঌ□\r□এ",
      "ঐ□□ওঔকখগঘঙচ\x1B" "ছজঝঞ",
      " !টঠডঢণত)(থদ,ধ.ন",
      "0123456789:;□পফ?",
      "বভমযর□ল□□□শষসহ়ঽ",
      "ািীুূৃৄ□□েৈ□□োৌ্",
      "ৎabcdefghijklmno",
      "pqrstuvwxyzৗড়ঢ়ৰৱ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*০১□২৩৪৫",
      "৬৭৮৯য়ৠৡৢ{}ৣ৲৳৴৵\\",
      "৶৷৸৹৺□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.5 locking shift, A.2.5 single shift
    {5, "Gujarati",
     {
      "ઁંઃઅઆઇઈઉઊઋ\nઌઍ\r□એ",
      "ઐઑ□ઓઔકખગઘઙચ\x1B" "છજઝઞ",
      " !ટઠડઢણત)(થદ,ધ.ન",
      "0123456789:;□પફ?",
      "બભમયર□લળ□વશષસહ઼ઽ",
      "ાિીુૂૃૄૅ□ેૈૉ□ોૌ્",
      "ૐabcdefghijklmno",
      "pqrstuvwxyzૠૡૢૣ૱",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□૦૧૨૩",
      "૪૫૬૭૮૯□□{}□□□□□\\",
      "□□□□□□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.6 locking shift, A.2.6 single shift
    {6, "Hindi",
     {
      "ँंःअआइईउऊऋ\nऌऍ\rऎए",
      "ऐऑऒओऔकखगघङच\x1B" "छजझञ",
      " !टठडढणत)(थद,ध.न",
      "0123456789:;ऩपफ?",
      "बभमयरऱलळऴवशषसह़ऽ",
      "ािीुूृॄॅॆेैॉॊोौ्",
      "ॐabcdefghijklmno",
      "pqrstuvwxyzॲॻॼॾॿ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□०१२३",
      "४५६७८९॒॑{}॓॔क़ख़ग़\\",
      "ज़ड़ढ़फ़य़ॠॡॢॣ॰ॱ□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.7 locking shift, A.2.7 single shift
    {7, "Kannada",
     {
      "□ಂಃಅಆಇಈಉಊಋ\nಌ□\rಎಏ",
      "ಐ□ಒಓಔಕಖಗಘಙಚ\x1B" "ಛಜಝಞ",
      " !ಟಠಡಢಣತ)(ಥದ,ಧ.ನ",
      "0123456789:;□ಪಫ?",
      "ಬಭಮಯರಱಲಳ□ವಶಷಸಹ಼ಽ",
      "ಾಿೀುೂೃೄ□ೆೇೈ□ೊೋೌ್",
      "ೕabcdefghijklmno",
      "pqrstuvwxyzೖೠೡೢೣ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□೦೧೨೩",
      "೪೫೬೭೮೯ೞೱ{}ೲ□□□□\\",
      "□□□□□□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.8 locking shift, A.2.8 single shift
    {8, "Malayalam",
     {
      "□ംഃഅആഇഈഉഊഋ\nഌ□\rഎഏ",
      "ഐ□ഒഓഔകഖഗഘങച\x1B" "ഛജഝഞ",
      " !ടഠഡഢണത)(ഥദ,ധ.ന",
      "0123456789:;□പഫ?",
      "ബഭമയരറലളഴവശഷസഹ□ഽ",
      "ാിീുൂൃൄ□െേൈ□ൊോൌ്",
      "ൗabcdefghijklmno",
      "pqrstuvwxyzൠൡൢൣ൹",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□൦൧൨൩",
      "൪൫൬൭൮൯൰൱{}൲൳൴൵ൺ\\",
      "ൻർൽൾൿ□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.9 locking shift, A.2.9 single shift
    {9, "Oriya",
     {
      "ଁଂଃଅଆଇଈଉଊଋ\nଌ□\r□ଏ",
      "ଐ□□ଓଔକଖଗଘଙଚ\x1B" "ଛଜଝଞ",
      " !ଟଠଡଢଣତ)(ଥଦ,ଧ.ନ",
      "0123456789:;□ପଫ?",
      "ବଭମଯର□ଲଳ□ଵଶଷସହ଼ଽ",
      "ାିୀୁୂୃୄ□□େୈ□□ୋୌ୍",
      "ୖabcdefghijklmno",
      "pqrstuvwxyzୗୠୡୢୣ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□୦୧୨୩",
      "୪୫୬୭୮୯ଡ଼ଢ଼{}ୟ୰ୱ□□\\",
      "□□□□□□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.10 locking shift, A.2.10 single shift
    {10, "Punjabi",
     {
      "ਁਂਃਅਆਇਈਉਊ□\n□□\r□ਏ",
      "ਐ□□ਓਔਕਖਗਘਙਚ\x1B" "ਛਜਝਞ",
      " !ਟਠਡਢਣਤ)(ਥਦ,ਧ.ਨ",
      "0123456789:;□ਪਫ?",
      "ਬਭਮਯਰ□ਲਲ਼□ਵਸ਼□ਸਹ਼□",
      "ਾਿੀੁੂ□□□□ੇੈ□□ੋੌ੍",
      "ੑabcdefghijklmno",
      "pqrstuvwxyzੰੱੲੳੴ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□੦੧੨੩",
      "੪੫੬੭੮੯ਖ਼ਗ਼{}ਜ਼ੜਫ਼ੵ□\\",
      "□□□□□□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.11 locking shift, A.2.11 single shift
    {11, "Tamil",
     {
      "□ஂஃஅஆஇஈஉஊ□\n□□\rஎஏ",
      "ஐ□ஒஓஔக□□□ஙச\x1B" "□ஜ□ஞ",
      " !ட□□□ணத)(□□,□.ந",
      "0123456789:;னப□?",
      "□□மயரறலளழவஶஷஸஹ□□",
      "ாிீுூ□□□ெேை□ொோௌ்",
      "ௐabcdefghijklmno",
      "pqrstuvwxyzௗ௰௱௲௹",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*।॥□௦௧௨௩",
      "௪௫௬௭௮௯௳௴{}௵௶௷௸௺\\",
      "□□□□□□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.12 locking shift, A.2.12 single shift
    {12, "Telugu",
     {
      "ఁంఃఅఆఇఈఉఊఋ\nఌ□\rఎఏ",
      "ఐ□ఒఓఔకఖగఘఙచ\x1B" "ఛజఝఞ",
      " !టఠడఢణత)(థద,ధ.న",
      "0123456789:;□పఫ?",
      "బభమయరఱలళ□వశషసహ□ఽ",
      "ాిీుూృౄ□ెేై□ొోౌ్",
      "ౕabcdefghijklmno",
      "pqrstuvwxyzౖౠౡౢౣ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*□□□౦౧౨౩",
      "౪౫౬౭౮౯ౘౙ{}౸౹౺౻౼\\",
      "౽౾౿□□□□□□□□□[~]□",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
    // A.3.13 locking shift, A.2.13 single shift
    {13, "Urdu",
     {
      "اآبٻڀپڦتۂٿ\nٹٽ\rٺټ",
      "ثجځڄڃڅچڇحخد\x1B" "ڌڈډڊ",
      " !ڏڍذرڑړ)(ڙز,ږ.ژ",
      "0123456789:;ښسش?",
      "صضطظعفقکڪګگڳڱلمن",
      "ںڻڼوۄەہھءیېےٍُِٗ",
      "ٔabcdefghijklmno",
      "pqrstuvwxyzّٰٕٖٓ",
     },
     {
      "@£$¥¿\"¤%&'\f*+\r-/",
      "<=>¡^¡_#*؀؁□۰۱۲۳",
      "۴۵۶۷۸۹،؍{}؎؏ؐؑؒ\\",
      "ؓؔ؛؟ـْ٘٫٬ٲٳۍ[~]۔",
      "|ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ□□□□□",
      "□□□□□€□□□□□□□□□□",
      "□□□□□□□□□□□□□□□□",
     }},
};

// The 128 code points of a table's rows; empty when it has none.
std::u32string TableOf(const std::array<const char*, 8>& rows) {
  if (rows[0] == nullptr) return {};
  std::u32string table;
  for (const char* row : rows) table += Utf8ToCodePoints(row);
  return table.size() == 128 ? table : std::u32string();
}

struct Tables {
  std::u32string locking, single;
};

const std::vector<Tables>& AllTables() {
  static const std::vector<Tables> all = [] {
    std::vector<Tables> t(kNationalLanguages + 1);
    for (const Language& l : kLanguages) t[static_cast<std::size_t>(l.identifier)] = {TableOf(l.locking), TableOf(l.single)};
    return t;
  }();
  return all;
}

constexpr char32_t kEmpty = U'\u25A1';

std::optional<char32_t> At(const std::u32string& table, std::uint8_t code) {
  if (table.empty() || code >= 128 || code == kGsmEscape || table[code] == kEmpty) return std::nullopt;
  return table[code];
}

}  // namespace

std::optional<char32_t> NationalLockingCharacter(int language, std::uint8_t code) {
  if (language < 1 || language > kNationalLanguages) return std::nullopt;
  return At(AllTables()[static_cast<std::size_t>(language)].locking, code);
}

std::optional<char32_t> NationalSingleShiftCharacter(int language, std::uint8_t code) {
  if (language < 1 || language > kNationalLanguages) return std::nullopt;
  return At(AllTables()[static_cast<std::size_t>(language)].single, code);
}

bool HasNationalLockingTable(int language) {
  return language >= 1 && language <= kNationalLanguages && !AllTables()[static_cast<std::size_t>(language)].locking.empty();
}

}  // namespace vesk::sim
