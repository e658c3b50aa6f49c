// TS 23.038 annex A, typed row by row as the standard prints the tables
// (16 codes a row, from 0x00): the test's own copy, kept apart from the
// codec's tables. "□" marks a code the table leaves empty or reserved.
// Each single shift table is given whole, the entries it shares with the
// extension table of 6.2.1.1 included (0x0D, CR2, reads as a carriage
// return); the escape 0x1B is listed as the escape in locking tables and
// left empty in single shift tables.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "component/Enums.h"

namespace vesk::codec::test {

// The mark of an empty code.
constexpr char16_t kNoCharacter = 0x25A1;

// clang-format off
struct StdNationalLanguage {
  const char* name;
  int identifier;                      // TS 23.038 6.2.1.2.4
  TNationalLanguageShiftTables table;
  bool hasLockingTable;                // false: A.3 leaves it void
  std::array<const char*, 8> locking;  // rows of 16 codes, UTF-8
  std::array<const char*, 8> single;
};

inline const std::vector<StdNationalLanguage>& StdNationalLanguages() {
  static const std::vector<StdNationalLanguage> languages = {
    // A.3.1 locking shift, A.2.1 single shift
    {"Turkish", 1, stTurkish, true,
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
    // no locking shift table, A.2.2 single shift
    {"Spanish", 2, stSpanish, false,
     {},
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
    {"Portuguese", 3, stPortuguese, true,
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
    {"Bengali", 4, stBengali, true,
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
    {"Gujarati", 5, stGujarati, true,
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
    {"Hindi", 6, stHindi, true,
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
    {"Kannada", 7, stKannada, true,
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
    {"Malayalam", 8, stMalayalam, true,
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
    {"Oriya", 9, stOriya, true,
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
    {"Punjabi", 10, stPunjabi, true,
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
    {"Tamil", 11, stTamil, true,
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
    {"Telugu", 12, stTelugu, true,
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
    {"Urdu", 13, stUrdu, true,
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
  return languages;
}
// clang-format on

inline void PrintTo(const StdNationalLanguage& l, std::ostream* os) { *os << l.name; }

}  // namespace vesk::codec::test
