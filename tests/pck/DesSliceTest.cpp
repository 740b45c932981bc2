// The bit-sliced DES implementations against the NBS / FIPS known answers and against
// libgcrypt, with libgcrypt itself run through the same known answers as a check of the
// tables. (The package cipher under every backend is tried in CodecsTest.cpp.)
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "pck/des/DesSlice.h"

namespace {

// ---- libgcrypt, as the package cipher runs it under its reference backend, behind the
// DesEcbImpl interface: the schedule keeps the raw key ----
void GcryptSetKey(const uint8_t key[8], DesSchedule& s) { std::memcpy(s.words, key, 8); }

void GcryptRun(const DesSchedule& s, uint8_t* data, size_t groups, bool decrypt) {
  const DesBackend was = PckDesBackend();
  PckSetDesBackend(DesBackend::Libgcrypt);
  CPckCipher cipher;
  cipher.SetRawKey(reinterpret_cast<const uint8_t*>(s.words));
  if (decrypt)
    cipher.EcbDecrypt(data, groups);
  else
    cipher.EcbEncrypt(data, groups);
  PckSetDesBackend(was);
}

void GcryptEncrypt(const DesSchedule& s, uint8_t* d, size_t n) { GcryptRun(s, d, n, false); }
void GcryptDecrypt(const DesSchedule& s, uint8_t* d, size_t n) { GcryptRun(s, d, n, true); }

const DesEcbImpl kGcrypt = {"libgcrypt", GcryptSetKey, GcryptEncrypt, GcryptDecrypt};

std::vector<const DesEcbImpl*> Implementations(bool withReference) {
  std::vector<const DesEcbImpl*> all;
  if (withReference) all.push_back(&kGcrypt);
  all.push_back(&DesBitslice64());
  if (const DesEcbImpl* avx2 = DesBitsliceAvx2()) all.push_back(avx2);
  return all;
}

std::string ImplName(const testing::TestParamInfo<const DesEcbImpl*>& info) {
  std::string name = info.param->name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

uint64_t Be(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

void PutBe(uint64_t v, uint8_t* p) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = uint8_t(v);
}

// ---- known answers: NBS Special Publication 500-20 and FIPS 81 ----
struct Answer {
  uint64_t key, plain, cipher;
};

// Key 0101010101010101 (a weak key), plaintext bit i set: the variable-plaintext test.
const uint64_t kVariablePlaintext[64] = {
    0x95F8A5E5DD31D900, 0xDD7F121CA5015619, 0x2E8653104F3834EA, 0x4BD388FF6CD81D4F,
    0x20B9E767B2FB1456, 0x55579380D77138EF, 0x6CC5DEFAAF04512F, 0x0D9F279BA5D87260,
    0xD9031B0271BD5A0A, 0x424250B37C3DD951, 0xB8061B7ECD9A21E5, 0xF15D0F286B65BD28,
    0xADD0CC8D6E5DEBA1, 0xE6D5F82752AD63D1, 0xECBFE3BD3F591A5E, 0xF356834379D165CD,
    0x2B9F982F20037FA9, 0x889DE068A16F0BE6, 0xE19E275D846A1298, 0x329A8ED523D71AEC,
    0xE7FCE22557D23C97, 0x12A9F5817FF2D65D, 0xA484C3AD38DC9C19, 0xFBE00A8A1EF8AD72,
    0x750D079407521363, 0x64FEED9C724C2FAF, 0xF02B263B328E2B60, 0x9D64555A9A10B852,
    0xD106FF0BED5255D7, 0xE1652C6B138C64A5, 0xE428581186EC8F46, 0xAEB5F5EDE22D1A36,
    0xE943D7568AEC0C5C, 0xDF98C8276F54B04B, 0xB160E4680F6C696F, 0xFA0752B07D9C4AB8,
    0xCA3A2B036DBC8502, 0x5E0905517BB59BCF, 0x814EEB3B91D90726, 0x4D49DB1532919C9F,
    0x25EB5FC3F8CF0621, 0xAB6A20C0620D1C6F, 0x79E90DBC98F92CCA, 0x866ECEDD8072BB0E,
    0x8B54536F2F3E64A8, 0xEA51D3975595B86B, 0xCAFFC6AC4542DE31, 0x8DD45A2DDF90796C,
    0x1029D55E880EC2D0, 0x5D86CB23639DBEA9, 0x1D1CA853AE7C0C5F, 0xCE332329248F3228,
    0x8405D1ABE24FB942, 0xE643D78090CA4207, 0x48221B9937748A23, 0xDD7C0BBD61FAFD54,
    0x2FBC291A570DB5C4, 0xE07C30D7E4E26E12, 0x0953E2258E8E90A1, 0x5B711BC4CEEBF2EE,
    0xCC083F1E6D9E85F6, 0xD2FD8867D50D2DFE, 0x06E7EA22CE92708F, 0x166B40B44ABA4BD6};

// Plaintext 0, key bit i set (of the 56 that are not parity bits): variable-key test.
const uint64_t kVariableKey[56] = {
    0x95A8D72813DAA94D, 0x0EEC1487DD8C26D5, 0x7AD16FFB79C45926, 0xD3746294CA6A6CF3,
    0x809F5F873C1FD761, 0xC02FAFFEC989D1FC, 0x4615AA1D33E72F10, 0x2055123350C00858,
    0xDF3B99D6577397C8, 0x31FE17369B5288C9, 0xDFDD3CC64DAE1642, 0x178C83CE2B399D94,
    0x50F636324A9B7F80, 0xA8468EE3BC18F06D, 0xA2DC9E92FD3CDE92, 0xCAC09F797D031287,
    0x90BA680B22AEB525, 0xCE7A24F350E280B6, 0x882BFF0AA01A0B87, 0x25610288924511C2,
    0xC71516C29C75D170, 0x5199C29A52C9F059, 0xC22F0A294A71F29F, 0xEE371483714C02EA,
    0xA81FBD448F9E522F, 0x4F644C92E192DFED, 0x1AFA9A66A6DF92AE, 0xB3C1CC715CB879D8,
    0x19D032E64AB0BD8B, 0x3CFAA7A7DC8720DC, 0xB7265F7F447AC6F3, 0x9DB73B3C0D163F54,
    0x8181B65BABF4A975, 0x93C9B64042EAA240, 0x5570530829705592, 0x8638809E878787A0,
    0x41B9A79AF79AC208, 0x7A9BE42F2009A892, 0x29038D56BA6D2745, 0x5495C6ABF1E5DF51,
    0xAE13DBD561488933, 0x024D1FFA8904E389, 0xD1399712F99BF02E, 0x14C1D7C1CFFEC79E,
    0x1DE5279DAE3BED6F, 0xE941A33F85501303, 0xDA99DBBC9A03F379, 0xB7FC92F91D8E92E9,
    0xAE8E5CAA3CA04E85, 0x9CC62DF43B6EED74, 0xD863DBB5C59A91A0, 0xA1AB2190545B91D7,
    0x0875041E64C570F7, 0x5A594528BEBEF1CC, 0xFCDB3291DE21F0C0, 0x869EFD7F9F265A09};

// Plaintext 0 under keys that exercise every bit of the permutations (the permutation
// test), then key / plaintext pairs that reach every S-box entry (the substitution test),
// then the FIPS 46 worked example.
const Answer kTableAnswers[] = {
    {0x1046913489980131, 0, 0x88D55E54F54C97B4}, {0x1007103489988020, 0, 0x0C0CC00C83EA48FD},
    {0x10071034C8980120, 0, 0x83BC8EF3A6570183}, {0x1046103489988020, 0, 0xDF725DCAD94EA2E9},
    {0x1086911519190101, 0, 0xE652B53B550BE8B0}, {0x1086911519580101, 0, 0xAF527120C485CBB0},
    {0x5107B01519580101, 0, 0x0F04CE393DB926D5}, {0x1007B01519190101, 0, 0xC9F00FFC74079067},
    {0x3107915498080101, 0, 0x7CFD82A593252B4E}, {0x3107919498080101, 0, 0xCB49A2F9E91363E3},
    {0x10079115B9080140, 0, 0x00B588BE70D23F56}, {0x3107911598080140, 0, 0x406A9A6AB43399AE},
    {0x1007D01589980101, 0, 0x6CB773611DCA9ADA}, {0x9107911589980101, 0, 0x67FD21C17DBB5D70},
    {0x9107D01589190101, 0, 0x9592CB4110430787}, {0x1007D01598980120, 0, 0xA6B7FF68A318DDD3},
    {0x1007940498190101, 0, 0x4D102196C914CA16}, {0x0107910491190401, 0, 0x2DFA9F4573594965},
    {0x0107910491190101, 0, 0xB46604816C0E0774}, {0x0107940491190401, 0, 0x6E7E6221A4F34E87},
    {0x19079210981A0101, 0, 0xAA85E74643233199}, {0x1007911998190801, 0, 0x2E5A19DB4D1962D6},
    {0x10079119981A0801, 0, 0x23A866A809D30894}, {0x1007921098190101, 0, 0xD812D961F017D320},
    {0x100791159819010B, 0, 0x055605816E58608F}, {0x1004801598190101, 0, 0xABD88E8B1B7716F1},
    {0x1004801598190102, 0, 0x537AC95BE69DA1E1}, {0x1004801598190108, 0, 0xAED0F6AE3C25CDD8},
    {0x1002911498100104, 0, 0xB3E35A5EE53E7B8D}, {0x1002911598190104, 0, 0x61C79C71921A2EF8},
    {0x1002911598100201, 0, 0xE2F5728F0995013C}, {0x1002911698100101, 0, 0x1AEAC39A61F0A464},
    {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
    {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0x7A389D10354BD271},
    {0x07A1133E4A0B2686, 0x0248D43806F67172, 0x868EBB51CAB4599A},
    {0x3849674C2602319E, 0x51454B582DDF440A, 0x7178876E01F19B2A},
    {0x04B915BA43FEB5B6, 0x42FD443059577FA2, 0xAF37FB421F8C4095},
    {0x0113B970FD34F2CE, 0x059B5E0851CF143A, 0x86A560F10EC6D85B},
    {0x0170F175468FB5E6, 0x0756D8E0774761D2, 0x0CD3DA020021DC09},
    {0x43297FAD38E373FE, 0x762514B829BF486A, 0xEA676B2CB7DB2B7A},
    {0x07A7137045DA2A16, 0x3BDD119049372802, 0xDFD64A815CAF1A0F},
    {0x04689104C2FD3B2F, 0x26955F6835AF609A, 0x5C513C9C4886C088},
    {0x37D06BB516CB7546, 0x164D5E404F275232, 0x0A2AEEAE3FF4AB77},
    {0x1F08260D1AC2465E, 0x6B056E18759F5CCA, 0xEF1BF03E5DFA575A},
    {0x584023641ABA6176, 0x004BD6EF09176062, 0x88BF0DB6D70DEE56},
    {0x025816164629B007, 0x480D39006EE762F2, 0xA1F9915541020B56},
    {0x49793EBC79B3258F, 0x437540C8698F3CFA, 0x6FBF1CAFCFFD0556},
    {0x4FB05E1515AB73A7, 0x072D43A077075292, 0x2F22E49BAB7CA1AC},
    {0x49E95D6D4CA229BF, 0x02FE55778117F12A, 0x5A6B612CC26CCE4A},
    {0x018310DC409B26D6, 0x1D9D5C5018F728C2, 0x5F4C038ED12B2E41},
    {0x1C587F1C13924FEF, 0x305532286D6F295A, 0x63FAC0D034D9F793},
    {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
};

// Every known answer, with the variable-key keys given their odd parity bits.
std::vector<Answer> AllAnswers() {
  std::vector<Answer> all(std::begin(kTableAnswers), std::end(kTableAnswers));
  for (int i = 0; i < 64; ++i)
    all.push_back({0x0101010101010101, uint64_t{1} << (63 - i), kVariablePlaintext[i]});
  for (int i = 0, k = 0; i < 64; ++i) {
    if (i % 8 == 7) continue;  // a parity bit
    const uint64_t bit = uint64_t{1} << (63 - i);
    all.push_back({0x0101010101010101 ^ bit ^ (uint64_t{1} << (56 - i / 8 * 8)), 0, kVariableKey[k++]});
  }
  return all;
}

class DesKnownAnswers : public testing::TestWithParam<const DesEcbImpl*> {
 protected:
  const DesEcbImpl& impl = *GetParam();
  DesSchedule schedule{};
  void SetKey(uint64_t key) {
    uint8_t k[8];
    PutBe(key, k);
    impl.setKey(k, schedule);
  }
};

// Each answer is checked in every lane: the same group fills a batch and a tail.
TEST_P(DesKnownAnswers, KnownAnswersInEveryLane) {
  const size_t groups = 256 + 3;
  std::vector<uint8_t> buf(groups * 8);
  for (const Answer& a : AllAnswers()) {
    SetKey(a.key);
    for (size_t g = 0; g < groups; ++g) PutBe(a.plain, &buf[g * 8]);
    impl.encrypt(schedule, buf.data(), groups);
    for (size_t g = 0; g < groups; ++g)
      ASSERT_EQ(Be(&buf[g * 8]), a.cipher) << std::hex << "key " << a.key << " group " << g;
    impl.decrypt(schedule, buf.data(), groups);
    for (size_t g = 0; g < groups; ++g)
      ASSERT_EQ(Be(&buf[g * 8]), a.plain) << std::hex << "key " << a.key << " group " << g;
  }
}

TEST_P(DesKnownAnswers, FipsEcbExample) {
  uint8_t text[] = "Now is the time for all ";
  SetKey(0x0123456789ABCDEF);
  impl.encrypt(schedule, text, 3);
  EXPECT_EQ(Be(text), 0x3FA40E8A984D4815u);
  EXPECT_EQ(Be(text + 8), 0x6A271787AB8883F9u);
  EXPECT_EQ(Be(text + 16), 0x893D51EC4B563B53u);
  impl.decrypt(schedule, text, 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "Now is the time for all ");
}

// Weak keys are their own inverse, semi-weak pairs each other's; the parity bits of a
// key are ignored.
TEST_P(DesKnownAnswers, WeakKeysAndParity) {
  const uint64_t pairs[][2] = {
      {0x0101010101010101, 0x0101010101010101}, {0xFEFEFEFEFEFEFEFE, 0xFEFEFEFEFEFEFEFE},
      {0xE0E0E0E0F1F1F1F1, 0xE0E0E0E0F1F1F1F1}, {0x1F1F1F1F0E0E0E0E, 0x1F1F1F1F0E0E0E0E},
      {0x01FE01FE01FE01FE, 0xFE01FE01FE01FE01}, {0x1FE01FE00EF10EF1, 0xE01FE01FF10EF10E},
      {0x01E001E001F101F1, 0xE001E001F101F101}, {0x1FFE1FFE0EFE0EFE, 0xFE1FFE1FFE0EFE0E},
      {0x011F011F010E010E, 0x1F011F010E010E01}, {0xE0FEE0FEF1FEF1FE, 0xFEE0FEE0FEF1FEF1}};
  std::mt19937_64 rng(7);
  std::vector<uint8_t> plain(100 * 8), buf;
  for (uint8_t& b : plain) b = uint8_t(rng());
  for (const auto& p : pairs) {
    buf = plain;
    SetKey(p[0]);
    impl.encrypt(schedule, buf.data(), 100);
    EXPECT_NE(buf, plain);
    SetKey(p[1] ^ 0x0101010101010101);  // every parity bit flipped
    impl.encrypt(schedule, buf.data(), 100);
    EXPECT_EQ(buf, plain) << std::hex << p[0];
  }
}

INSTANTIATE_TEST_SUITE_P(All, DesKnownAnswers, testing::ValuesIn(Implementations(true)), ImplName);

class DesAgainstGcrypt : public testing::TestWithParam<const DesEcbImpl*> {};

// Random keys and data for every length up to 600 groups (past two AVX2 batches), in
// place at an odd address between guard bytes, both directions.
TEST_P(DesAgainstGcrypt, EveryLengthUpTo600Groups) {
  const DesEcbImpl& impl = *GetParam();
  std::mt19937_64 rng(20240601);
  const size_t kGuard = 13;
  for (size_t groups = 0; groups <= 600; ++groups) {
    uint8_t key[8];
    for (uint8_t& b : key) b = uint8_t(rng());
    DesSchedule mine{}, ref{};
    impl.setKey(key, mine);
    kGcrypt.setKey(key, ref);
    std::vector<uint8_t> buf(groups * 8 + 2 * kGuard);
    for (uint8_t& b : buf) b = uint8_t(rng());
    const std::vector<uint8_t> original = buf;
    uint8_t* data = buf.data() + kGuard;
    for (bool decrypt : {false, true}) {
      std::vector<uint8_t> expect = original;
      (decrypt ? kGcrypt.decrypt : kGcrypt.encrypt)(ref, expect.data() + kGuard, groups);
      buf = original;
      (decrypt ? impl.decrypt : impl.encrypt)(mine, data, groups);
      ASSERT_EQ(buf, expect) << groups << " groups, decrypt " << decrypt;
      (decrypt ? impl.encrypt : impl.decrypt)(mine, data, groups);
      ASSERT_EQ(buf, original) << groups << " groups round trip, decrypt " << decrypt;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, DesAgainstGcrypt, testing::ValuesIn(Implementations(false)), ImplName);

TEST(DesBest, IsTheWidestAvailable) {
  const DesEcbImpl* avx2 = DesBitsliceAvx2();
  EXPECT_EQ(&DesBest(), avx2 ? avx2 : &DesBitslice64());
  EXPECT_EQ(&DesBest(), &DesBest());
}

}  // namespace
