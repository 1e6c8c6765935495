#include "runtime/values/decimal.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "runtime/values/string_stack.hpp"
#include "values/scratch_directory.hpp"

namespace vtn {
namespace {

class DecimalTest : public ::testing::Test {
 protected:
  void SetUp() override { stack().clear(); }
  void TearDown() override { EXPECT_EQ(stack().depth(), 0) << "a test left values behind"; }
  static DecimalStack& stack() { return decimal_stack(); }

  static std::string binary(const std::string& a, char op, const std::string& b) {
    stack().push_text(a);
    stack().push_text(b);
    switch (op) {
      case '+':
        stack().add();
        break;
      case '-':
        stack().subtract();
        break;
      case 'r':
        stack().reverse_subtract();
        break;
      case '*':
        stack().multiply();
        break;
      case '/':
        stack().divide();
        break;
    }
    return stack().pop_text();
  }
};

struct BinaryCase {
  const char* a;
  char op;
  const char* b;
  const char* expected;
};

TEST_F(DecimalTest, ArithmeticEdgeCases) {
  const BinaryCase cases[] = {
      {"9.99", '+', "0.01", "10"},
      {"3", '-', "5", "-2"},
      {"5", '-', "3", "2"},
      {"3", 'r', "5", "2"},  // entry 1 - entry 2
      {"-3", '+', "5", "2"},
      {"-3", '-', "5", "-8"},
      {"0.1", '+', "0.2", "0.3"},
      {"1", '-', "1", "0"},
      {"-1", '+', "1", "0"},
      {"1000", '-', "0.001", "999.999"},
      {"0.001", '-', "1000", "-999.999"},
      {"99999999999999999999999999999999", '+', "1", "0"},  // the carry leaves index 63
      {"12.5", '*', "0.4", "5"},
      {"-2", '*', "3", "-6"},
      {"-2", '*', "-3", "6"},
      {"0", '*', "-5", "0"},
      {"1.1", '*', "1.1", "1.21"},
      {"123456789", '*', "987654321", "121932631112635269"},
      {"0.0000000000000001", '*', "0.0000000000000001", "0.00000000000000000000000000000001"},
      {"0.00000000000000001", '*', "0.0000000000000001", "0"},
      // Cut below the 32nd place, not rounded: 1.9e-31 x 0.5 = 9.5e-32.
      {"0.00000000000000000000000000000019", '*', "0.5", "0.00000000000000000000000000000009"},
      {"1", '/', "3", "0.3333333333333333333333333333333"},
      {"2", '/', "3", "0.6666666666666666666666666666667"},
      {"-2", '/', "3", "-0.6666666666666666666666666666667"},
      {"10", '/', "0", "0"},
      {"0", '/', "7", "0"},
      {"1", '/', "8", "0.125"},
      {"-1", '/', "-8", "0.125"},
      {"100", '/', "0.01", "10000"},
      {"5", '/', "100", "0.05"},
      {"22", '/', "7", "3.1428571428571428571428571428571"},
      {"1", '/', "99999999999999999999999999999999", "0"},
      {"99999999999999999999999999999999", '/', "99999999999999999999999999999999", "1"},
      {"0.00000000000000000000000000000005", '/', "1", "0.0000000000000000000000000000001"},
      {"12345678901234567890", '/', "0.000001", "12345678901234567890000000"},
      // Divisors whose third leading group of digits makes the first quotient estimate one too
      // high, so the long division has to add the divisor back.
      {"0.00000000000005", '/', "5.00000000000000000000000001", "0.00000000000001"},
      {"0.0000000000000999999999", '/', "9.99999999000000000000000001", "0.00000000000001"},
      {"0.0000000000000000000001", '/', "5.00000000000000000000000001",
       "0.00000000000000000000002"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(binary(c.a, c.op, c.b), c.expected) << c.a << " " << c.op << " " << c.b;
  }
}

// Expected results computed independently with exact decimal arithmetic: sums exact, products cut
// below the 32nd place, quotients cut below the 32nd place and then rounded half away from zero
// to 31 places.
TEST_F(DecimalTest, ArithmeticAgainstExactReference) {
  const BinaryCase cases[] = {
      {"-2254.410", '+', "8830366233.3699", "8830363978.9599"},
      {"624944019192103.51806612", '-', "2057569210949839.512416422961707",
       "-1432625191757735.994350302961707"},
      {"88202.2806292384", '*', "0945626790.05201348847", "83406439506693.596643272595863281248"},
      {"-260730919392068.535521850544", '/', "-14600125.1171616968",
       "17858129.1118932082498584912835212576149"},
      {"71115415522406.579173608", '+', "0", "71115415522406.579173608"},
      {"-153570.9788648", '-', "-63407656.5160611", "63254085.5371963"},
      {"-6.58412", '*', "-0.2599113", "1.711287188556"},
      {"0.033709360572980", '/', "4149135933207262.6199560890672",
       "0.0000000000000000081244290656254"},
      {"-578958957.683243453", '+', "-4312261.9483783668", "-583271219.6316218198"},
      {"42452.864793854186", '-', "-15163700.57", "15206153.434793854186"},
      {"8842409032.2269317", '*', "-260.0566208564682", "-2299527013151.64907836799618462194"},
      {"942599.623", '/', "-8768569", "-0.1074975429856342579958029639728"},
      {"8343126589055.99833938", '+', "-281.102796", "8343126588774.89554338"},
      {"-675053.2677845", '-', "-7225289312758737.9738473356", "7225289312083684.7060628356"},
      {"-04676076108.079921763588723", '*', "18", "-84169369945.438591744597014"},
      {"-275764.4895242", '/', "3365148.93880", "-0.0819471870456160625255235434039"},
      {"99152.9933005", '+', "72.37", "99225.3633005"},
      {"22922715635426.58706032394", '-', "576178821850.7146417426", "22346536813575.87241858134"},
      {"466.7467242033445", '*', "4.643531528733854", "2167.353129771474819338917174703"},
      {"76.17132015972768", '/', "6780619.55097739639254", "0.0000112336814633329369235581016"},
      {"4100783139.3639", '+', "-60492682323.7183", "-56391899184.3544"},
      {"643150402.799", '-', "579030344.02756281", "64120058.77143719"},
      {"756.90508", '*', "0.732470", "554.4102639476"},
      {"-599506324.71866910174", '/', "78375570.7065929704486",
       "-7.6491478060553184118339537854736"},
      {"0684525380080073.81254147", '+', "366503461.8346833066", "684525746583535.6472247766"},
      {"4442098.826251242259", '-', "-370394864.89", "374836963.716251242259"},
      {"-6812953167092577.4124128353004", '*', "854339.78750",
       "-5820576961021324579348.081572816234665"},
      {"-655222496.2", '/', "-659", "994267.8242792109256449165402124430956"},
      {"-0064722151062792.9289", '+', "-25574920247.803277", "-64747725983040.732177"},
      {"-834110.381857241", '-', "-96546043927.246409045263949", "96545209816.864551804263949"},
      {"-50315920.2952425021", '*', "-1.39876802", "70380300.205854170082262842"},
      {"-9.5992", '/', "25714713.91464469526172", "-0.0000003732960060089641421047085"},
      {"6", '+', "9337694668337981.231586", "9337694668337987.231586"},
      {"62427683.87641941", '-', "-8828325588.557523768714", "8890753272.433943178714"},
      {"9207082805.4277", '*', "975.1437323", "8978229090479.92207580471"},
      {"70155165.0310474667", '/', "32787691386.06", "0.0021396799245485946243902798556"},
      {"-928387593.21836767790215", '+', "415697076167849.3082283100",
       "415696147780256.08986063209785"},
      {"4068965193675.7920318081", '-', "40846518203", "4028118675472.7920318081"},
      {"1812628902075208.065275", '*', "-837.93396965625",
       "-1518863331429529147.62354711931171875"},
      {"-6407.899525", '/', "45003486.652", "-0.0001423867349334637948576162689"},
      {"61651147.053768649", '+', "58221557114431837.704201381983009869004",
       "58221557176082984.757970030983009869004"},
      {"-69218.9", '-', "-233.5655705732337138757081448844", "-68985.3344294267662861242918551156"},
      {"55446249202.66350425289691549501260802261591", '*', "777235.444786046709894492033565257688",
       "43094790160750156.47233997215625025388980892923653"},
      {"-81081304977081049.9315296070", '/', "-988370848813152.205481776398188986745434",
       "82.0353059526638931875383099163026"},
      {"-8561.407939354093527387", '+', "07.317428168063909720205687432223",
       "-8554.090511186029617666794312567777"},
      {"74324197714216890.2992191011466935934041", '-', "-3194885105057694965.5359669994973566",
       "3269209302771911855.8351861006440501934041"},
      {"8416.65396", '*', "20415568321031772318.68", "171830773954862617771836.4039728"},
      {"-6.84707987022982855618", '/', "-56935866", "0.0000001202595191970879753753109"},
      {"174.26980278813410357699884206361", '+', "0045649386097444310314929365046.6633",
       "45649386097444310314929365220.93310278813410357699884206361"},
      {"-51390123.7665013", '-', "-3245712.1", "-48144411.6665013"},
      {"4188978746015827246278207018999.1930", '/', "-0847.48044",
       "-4942861862411629519470923740.7286863163473129834123369266198"},
      {"96802878.37305168352603484479", '+',
       "66104135399383836349339.19418347065746402397550282173861",
       "66104135399383933152217.56723515418349886876550282173861"},
      {"304851561545999680320957826.981090", '-', "48024882.95866046805444",
       "304851561545999680272932944.02242953194556"},
      {"9195725031336699103.615873411671852489", '/', "-9462554422.2706444979523",
       "-971801547.5497876467240880231986617378741"},
      {"-59240065854669651558518.191087397562679438422951", '+', "0.4176208958853214",
       "-59240065854669651558517.773466501677358038422951"},
      {"8050547732236983.0949206329232534906", '-', "-0.18044810080193813817",
       "8050547732236983.27536873372519162877"},
      {"481881375046.04981178526954031462757719790582", '*', "0.13226061",
       "63733924611.22932619710493841643223528301711"},
      {"-0489084595596404299.1117570480853", '/',
       "-23698004953194362002730645.149974656687708809786", "0.0000000206382181353404755405859"},
      {"-680677446740736131521500.682066", '+', "0985.19551336661581052705575405",
       "-680677446740736131520515.48655263338418947294424595"},
      {"3115427334216868.706835514673390480803808697815", '-', "775139.0214153875304833880",
       "3115427333441729.685420127142907092803808697815"},
      {"574034246100190041297588387249.9241", '*', "-0.731414953787629467622",
       "-419857231583887219999432481173.9947703772145915429074902"},
      {"11.60", '/', "16107787217996618136576405193.198466008637042817",
       "0.0000000000000000000000000007201"},
      {"4020434446023587564608388227008.1362810049762293037174807356", '+', "7813758715197036054",
       "4020434446031401323323585263062.1362810049762293037174807356"},
      {"2454235528023268.748488314778156164939228012", '-',
       "-102810367421580418519240875469.7223840750226303",
       "102810367421582872754768898738.470872389800786464939228012"},
      {"-5.28306", '*', "55661314470738.7492310587336394",
       "-294062064027781.056512637153340968564"},
      {"573165406867198127187272.462264116335302", '/', "-3.851",
       "-148835473089378895660159.0397985241068039470267462996624"},
      {"249446222252124954494249.69788565", '+', "-377958290.725234617353908950743",
       "249446222252124576535958.972651032646091049257"},
      {"6266153195919425998.552940929612977127868345355", '-', "13.53604036866",
       "6266153195919425985.016900560952977127868345355"},
      {"14.95480729", '*', "-2118.08", "-31675.4782248032"},
      {"-7913537919120026595675.0993791462319372064276720680061", '/',
       "907777097411823472317.6579948086215510644", "-8.7174901654628983505177963831446"},
      {"3681379249847857803912115.9117221155375069794007", '+', "-039816949212.67",
       "3681379249847817986962903.2417221155375069794007"},
      {"-1923225357878544", '-', "6147.81131520153915042583897723",
       "-1923225357884691.81131520153915042583897723"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(binary(c.a, c.op, c.b), c.expected) << c.a << " " << c.op << " " << c.b;
  }
}

// Identities over random values of up to 15 integer and 15 decimal digits, where every sum and
// product is exact.
TEST_F(DecimalTest, RandomIdentities) {
  std::mt19937 rng(20261207);
  auto random_text = [&rng]() {
    std::string text = (rng() % 3 == 0) ? "-" : "";
    const int integer_digits = static_cast<int>(rng() % 16);
    const int places = static_cast<int>(rng() % 16);
    for (int i = 0; i < integer_digits; ++i) text += static_cast<char>('0' + rng() % 10);
    if (integer_digits == 0) text += '0';
    if (places > 0) text += '.';
    for (int i = 0; i < places; ++i) text += static_cast<char>('0' + rng() % 10);
    return text;
  };
  auto normalised = [](const std::string& text) {
    stack().push_text(text);
    return stack().pop_text();
  };
  for (int round = 0; round < 500; ++round) {
    const std::string a = random_text();
    const std::string b = random_text();
    SCOPED_TRACE(a + " and " + b);
    const std::string sum = binary(a, '+', b);
    EXPECT_EQ(binary(sum, '-', b), normalised(a));
    const std::string difference = binary(a, '-', b);
    EXPECT_EQ(binary(b, 'r', a), difference);
    stack().push_text(binary(b, '-', a));
    stack().negate();
    EXPECT_EQ(stack().pop_text(), difference);

    stack().push_text(a);
    stack().push_text(b);
    const int order = stack().compare();
    stack().push_text(difference);
    EXPECT_EQ(stack().test_sign(), order);

    const std::string product = binary(a, '*', b);
    EXPECT_EQ(binary(b, '*', a), product);
    stack().push_text(b);
    if (stack().test_sign() != 0) {
      EXPECT_EQ(binary(product, '/', b), normalised(a));
      stack().push_text(binary(a, '/', b));
      const double quotient = stack().pop_real();
      stack().push_text(a);
      const double x = stack().pop_real();
      stack().push_text(b);
      const double y = stack().pop_real();
      EXPECT_NEAR(quotient, x / y, std::fabs(x / y) * 1e-14 + 1e-30);
    }

    uint8_t packed[16];
    stack().push_text(a);
    stack().pop_decimal(packed, sizeof packed, 15);
    stack().push_decimal(packed, sizeof packed, 15);
    EXPECT_EQ(stack().pop_text(), normalised(a));
    stack().push_text(a);
    stack().pop_pdecimal(packed, sizeof packed, 15);
    stack().push_pdecimal(packed, sizeof packed, 15);
    EXPECT_EQ(stack().pop_text(), normalised(a));
  }
}

// Arbitrary stored bytes, sizes and places, through every operation: each result must still be a
// well-formed working value (no digit above 9, 0 <= lo <= hi <= 63).
TEST_F(DecimalTest, ArbitraryPackedInputsStayWellFormed) {
  std::mt19937 rng(7);
  auto push_random = [&rng]() {
    uint8_t bytes[24];
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    const uint32_t n = rng() % 25;
    const uint32_t places = rng() % 70;
    if (rng() % 2) {
      stack().push_decimal(bytes, n, places);
    } else {
      stack().push_pdecimal(bytes, n, places);
    }
  };
  for (int round = 0; round < 3000; ++round) {
    push_random();
    push_random();
    switch (rng() % 6) {
      case 0:
        stack().add();
        break;
      case 1:
        stack().subtract();
        break;
      case 2:
        stack().multiply();
        break;
      case 3:
        stack().divide();
        break;
      case 4:
        stack().round(static_cast<int32_t>(rng() % 80) - 40);
        stack().add();
        break;
      case 5:
        stack().power_of_ten(static_cast<int32_t>(rng() % 140) - 70);
        stack().add();
        break;
    }
    const DecimalValue& v = stack().entry(1);
    ASSERT_LE(v.lo, v.hi);
    ASSERT_LE(v.hi, 63);
    for (int i = v.lo; i <= v.hi; ++i) ASSERT_LE(v.digit[i], 9);
    const std::string text = stack().pop_text();
    ASSERT_EQ(text.find_first_not_of("-.0123456789"), std::string::npos) << text;
  }
}

TEST_F(DecimalTest, StoreRoundsHalfAwayFromZero) {
  struct Case {
    const char* value;
    uint32_t bytes, places;
    std::vector<uint8_t> decimal, pdecimal;
  };
  const Case cases[] = {
      {"2.345", 3, 2, {0x00, 0x02, 0x35}, {0x00, 0x23, 0x5F}},
      {"-2.345", 3, 2, {0xF0, 0x02, 0x35}, {0x00, 0x23, 0x5D}},
      {"2.344", 3, 2, {0x00, 0x02, 0x34}, {0x00, 0x23, 0x4F}},
      {"0.5", 2, 0, {0x00, 0x01}, {0x00, 0x1F}},
      {"-0.5", 2, 0, {0xF0, 0x01}, {0x00, 0x1D}},
      {"0.4", 2, 0, {0x00, 0x00}, {0x00, 0x0F}},
      {"-0.004", 2, 2, {0x00, 0x00}, {0x00, 0x0F}},  // rounds to zero: stored positive
      {"9.995", 3, 2, {0x00, 0x10, 0x00}, {0x01, 0x00, 0x0F}},
      {"123456", 3, 0, {0x02, 0x34, 0x56}, {0x23, 0x45, 0x6F}},  // 5 digits: the top one is lost
      {"-123456", 3, 0, {0xF2, 0x34, 0x56}, {0x23, 0x45, 0x6D}},
      {"1.5", 1, 0, {0x02}, {0x2F}},
      {"7", 1, 3, {0x00}, {0x0F}},
      // Every digit that fits the field is zero: the stored value is a positive zero, so that
      // it matches a zero byte for byte (keys compare stored bytes).
      {"-1000", 2, 0, {0x00, 0x00}, {0x00, 0x0F}},
      {"-7", 1, 3, {0x00}, {0x0F}},
      {"-1001", 2, 0, {0xF0, 0x01}, {0x00, 0x1D}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.bytes, 0xAA);
    stack().push_text(c.value);
    stack().pop_decimal(out.data(), c.bytes, c.places);
    EXPECT_EQ(out, c.decimal) << "DECIMAL " << c.value;
    std::fill(out.begin(), out.end(), 0xAA);
    stack().push_text(c.value);
    stack().pop_pdecimal(out.data(), c.bytes, c.places);
    EXPECT_EQ(out, c.pdecimal) << "PDECIMAL " << c.value;
  }
}

TEST_F(DecimalTest, LoadPackedDecimals) {
  struct Case {
    bool pdecimal;
    std::vector<uint8_t> bytes;
    uint32_t places;
    const char* text;
  };
  const Case cases[] = {
      {false, {0x00, 0x12, 0x34}, 2, "12.34"},
      {false, {0xF0, 0x12, 0x34}, 2, "-12.34"},
      {false, {0x10, 0x12, 0x34}, 2, "-12.34"},  // any sign nibble but 0 is negative
      {false, {0xF0, 0x00, 0x00}, 2, "0"},
      {false, {0x09, 0x99}, 0, "999"},
      {false, {0x01, 0x23}, 5, "0.00123"},
      {true, {0x01, 0x23, 0x4D}, 2, "-12.34"},
      {true, {0x01, 0x23, 0x4C}, 2, "12.34"},  // only 0xD is negative
      {true, {0x01, 0x23, 0x4F}, 2, "12.34"},
      {true, {0x5F}, 1, "0.5"},
      {false, {0x0A, 0xB1}, 0, "1"},  // nibbles that are no digit read as 0
  };
  for (const Case& c : cases) {
    const uint32_t n = static_cast<uint32_t>(c.bytes.size());
    if (c.pdecimal) {
      stack().push_pdecimal(c.bytes.data(), n, c.places);
    } else {
      stack().push_decimal(c.bytes.data(), n, c.places);
    }
    EXPECT_EQ(stack().pop_text(), c.text);
  }
}

TEST_F(DecimalTest, PackedRoundTripAndOversizedDeclarations) {
  // 16 bytes: 31 digits, the largest usual declaration.
  uint8_t buffer[16];
  stack().push_text("-123456789012345678901.2345678901");
  stack().pop_decimal(buffer, 16, 10);
  stack().push_decimal(buffer, 16, 10);
  EXPECT_EQ(stack().pop_text(), "-123456789012345678901.2345678901");

  // Declarations whose digit positions reach past either end of a working value keep what fits.
  uint8_t wide[40];
  std::memset(wide, 0x99, sizeof wide);
  wide[0] = 0x09;
  stack().push_decimal(wide, sizeof wide, 0);
  EXPECT_EQ(stack().pop_text(), std::string(32, '9'));
  stack().push_decimal(wide, sizeof wide, 60);
  const std::string text = stack().pop_text();
  EXPECT_EQ(text, std::string(19, '9') + "." + std::string(32, '9'));

  stack().push_text("5");
  stack().pop_decimal(wide, sizeof wide, 60);
  stack().push_decimal(wide, sizeof wide, 60);
  EXPECT_EQ(stack().pop_text(), "5");

  uint8_t none = 0x55;
  stack().push_decimal(&none, 0, 0);
  EXPECT_EQ(stack().pop_text(), "0");
  stack().push_text("1");
  stack().pop_pdecimal(&none, 0, 0);
  EXPECT_EQ(none, 0x55);
}

TEST_F(DecimalTest, LongsAndText) {
  struct Case {
    const char* text;
    const char* normalised;
    int32_t as_long;
  };
  const Case cases[] = {
      {"12.50", "12.5", 12},
      {"0.05", "0.05", 0},
      {"-3", "-3", -3},
      {"-12.99", "-12.99", -12},
      {"-0", "0", 0},
      {"abc", "0", 0},
      {"  -12.50", "-12.5", -12},
      {"+5", "0", 0},
      {"3,75", "3.75", 3},
      {"1E3", "1", 1},
      {"1.E3", "1000", 1000},
      {"1.5e-1", "0.15", 0},
      {"4294967301", "4294967301", 5},  // wraps
      {"2147483648", "2147483648", INT32_MIN},
      // Above 32 integer digits only the low 32 stay; below 32 places the rest is dropped.
      {"1234567890123456789012345678901234567890", "90123456789012345678901234567890", 0},
      {"0.123456789012345678901234567890129", "0.12345678901234567890123456789012", 0},
  };
  for (const Case& c : cases) {
    stack().push_text(c.text);
    EXPECT_EQ(stack().pop_text(), c.normalised) << c.text;
  }
  for (const Case& c : cases) {
    if (std::strlen(c.text) > 32) continue;
    stack().push_text(c.text);
    EXPECT_EQ(stack().pop_long(), c.as_long) << c.text;
  }
  for (int32_t v : {0, 1, -1, 7, -7, 1000, INT32_MAX, INT32_MIN}) {
    stack().push_long(v);
    EXPECT_EQ(stack().pop_text(), std::to_string(v));
    stack().push_long(v);
    EXPECT_EQ(stack().pop_long(), v);
  }
  stack().push_ulong(4294967295u);
  EXPECT_EQ(stack().pop_text(), "4294967295");
}

TEST_F(DecimalTest, FromReal) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.1, "0.1"},
      {-2.5, "-2.5"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {123456789.123456789, "123456789.123457"},
      {100.0, "100"},
      {1e31, "10000000000000000000000000000000"},
      {1e32, "0"},  // too large for a working value
      {1e-20, "0.00000000000000000001"},
      {1.2345e-30, "0.00000000000000000000000000000123"},  // cut at the 32nd place
      {1e-40, "0"},
      {-0.0, "0"},
      // Exactly halfway between two 15-digit values: away from zero, like every decimal store.
      {1000000000000005.0, "1000000000000010"},
      {1000000000000025.0, "1000000000000030"},
      {-1000000000000025.0, "-1000000000000030"},
      {123456789012344.5, "123456789012345"},
      {0x1p-22, "0.000000238418579101563"},        // 2.384185791015625e-7
      {1000000000000004.875, "1000000000000000"},  // just below halfway
      {std::numeric_limits<double>::quiet_NaN(), "0"},
      {std::numeric_limits<double>::infinity(), "0"},
  };
  for (const Case& c : cases) {
    stack().push_real(c.value);
    EXPECT_EQ(stack().pop_text(), c.text) << c.value;
  }
}

TEST_F(DecimalTest, ToReal) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"0.1", 0.1},
      {"12.5", 12.5},
      {"-3", -3.0},
      {"0", 0.0},
      {"1.E20", 1e20},
      {"12345678901234567890", 1.234567890123456e19},  // only 16 digits count
      {"0.3333333333333333333333333333333", 0.3333333333333333},
  };
  for (const Case& c : cases) {
    stack().push_text(c.text);
    EXPECT_DOUBLE_EQ(stack().pop_real(), c.value) << c.text;
  }
  stack().push_text("0.00000000000000000000000000000001");
  EXPECT_NEAR(stack().pop_real(), 1e-32, 1e-46);
}

TEST_F(DecimalTest, Compare) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"1", "2", -1},        {"2", "1", 1},          {"-1", "-2", 1},      {"-2", "-1", -1},
      {"1.50", "1.5", 0},    {"-0.001", "0", -1},    {"0", "-0.001", 1},   {"-5", "3", -1},
      {"0.001", "1000", -1}, {"12.345", "12.34", 1}, {"100", "99.999", 1}, {"0", "0", 0},
  };
  for (const Case& c : cases) {
    stack().push_text(c.a);
    stack().push_text(c.b);
    EXPECT_EQ(stack().compare(), c.expected) << c.a << " vs " << c.b;
    stack().push_text(c.a);
    stack().push_text(c.b);
    EXPECT_EQ(stack().compare_reversed(), -c.expected) << c.b << " vs " << c.a;
  }
}

TEST_F(DecimalTest, NegativeZeroEqualsZero) {
  stack().push_long(0);
  stack().entry(1).sign = 1;  // -0: sign byte set, all digits zero
  stack().push_long(0);
  EXPECT_EQ(stack().compare(), 0);
  stack().push_long(0);
  stack().entry(1).sign = 1;
  EXPECT_EQ(stack().test_sign(), 0);
  stack().push_long(0);
  stack().entry(1).sign = 1;
  EXPECT_EQ(stack().pop_text(), "0");
}

TEST_F(DecimalTest, SignNegateAbsolute) {
  stack().push_text("-2.5");
  EXPECT_EQ(stack().test_sign(), -1);
  stack().push_text("2.5");
  EXPECT_EQ(stack().test_sign(), 1);
  stack().push_text("-2.5");
  stack().absolute();
  EXPECT_EQ(stack().pop_text(), "2.5");
  stack().push_text("2.5");
  stack().negate();
  EXPECT_EQ(stack().pop_text(), "-2.5");
  stack().push_long(0);
  stack().negate();
  EXPECT_EQ(stack().test_sign(), 0);
}

TEST_F(DecimalTest, RoundAndPowerOfTen) {
  struct Case {
    const char* value;
    char op;  // 'r' round to n places, 'p' times 10^n
    int32_t n;
    const char* expected;
  };
  const Case cases[] = {
      {"2.345", 'r', 2, "2.35"},
      {"-2.345", 'r', 2, "-2.35"},
      {"9.995", 'r', 2, "10"},
      {"0.004", 'r', 2, "0"},
      {"0.005", 'r', 2, "0.01"},
      {"-0.005", 'r', 2, "-0.01"},
      {"0.0049", 'r', 2, "0"},
      {"1234.5", 'r', -2, "1200"},
      {"1250", 'r', -2, "1300"},
      {"999.5", 'r', 0, "1000"},
      {"1.23", 'r', 40, "1.23"},
      {"99999999999999999999999999999999", 'r', -32, "0"},
      {"1.5", 'p', 3, "1500"},
      {"1.5", 'p', -3, "0.0015"},
      {"1", 'p', 31, "10000000000000000000000000000000"},
      {"1", 'p', 32, "0"},
      {"5", 'p', -32, "0.0000000000000000000000000000001"},
      {"4", 'p', -32, "0"},
      {"123", 'p', INT32_MIN, "0"},
      {"123", 'p', INT32_MAX, "0"},
      {"123", 'p', 0, "123"},
  };
  for (const Case& c : cases) {
    stack().push_text(c.value);
    if (c.op == 'r') {
      stack().round(c.n);
    } else {
      stack().power_of_ten(c.n);
    }
    EXPECT_EQ(stack().pop_text(), c.expected) << c.value << " " << c.op << " " << c.n;
  }
}

TEST_F(DecimalTest, DigitsForPictures) {
  struct Case {
    const char* value;
    int32_t round_to;  // -1: no rounding
    const char* digits;
    int integer_digits;
    bool negative;
  };
  const Case cases[] = {
      {"12.5", -1, "125", 2, false},  {"0.05", -1, "005", 1, false}, {"-7", -1, "7", 1, true},
      {"1.E3", -1, "1000", 4, false}, {"0", -1, "0", 1, false},      {"2.345", 2, "235", 1, false},
      {"-0.004", 2, "0", 1, false},
  };
  for (const Case& c : cases) {
    stack().push_text(c.value);
    if (c.round_to >= 0) stack().round(c.round_to);
    const DecimalDigits d = stack().pop_digits();
    EXPECT_EQ(d.digits, c.digits) << c.value;
    EXPECT_EQ(d.integer_digits, c.integer_digits) << c.value;
    EXPECT_EQ(d.negative, c.negative) << c.value;
  }
  // Leading zeros of a packed field are not integer digits.
  const uint8_t field[] = {0x00, 0x00, 0x01, 0x25};
  stack().push_decimal(field, sizeof field, 2);
  const DecimalDigits d = stack().pop_digits();
  EXPECT_EQ(d.digits, "125");
  EXPECT_EQ(d.integer_digits, 1);
}

TEST_F(DecimalTest, TravelsThroughTheStringStack) {
  StringStack& strings = string_stack();
  const int depth = strings.depth();
  strings.push_copy("  -42.125xyz");
  stack().push_from_string_stack();
  EXPECT_EQ(strings.depth(), depth);
  stack().push_long(2);
  stack().multiply();
  stack().pop_to_string_stack();
  ASSERT_EQ(strings.depth(), depth + 1);
  EXPECT_EQ(strings.pop_string(), "-84.25");
}

TEST_F(DecimalTest, FullStackHoldsTenValues) {
  for (int i = 1; i <= DecimalStack::kCapacity; ++i) stack().push_long(i);
  for (int i = 1; i < DecimalStack::kCapacity; ++i) stack().add();
  EXPECT_EQ(stack().pop_long(), 55);
}

using DecimalDeathTest = DecimalTest;

TEST_F(DecimalDeathTest, OverflowAndUnderflowEndTheProgram) {
  EXPECT_EXIT(
      {
        for (int i = 0; i <= DecimalStack::kCapacity; ++i) decimal_stack().push_long(i);
      },
      ::testing::ExitedWithCode(2), "Decimal Stack Error");
  EXPECT_EXIT(decimal_stack().pop_long(), ::testing::ExitedWithCode(2), "Decimal Stack Error");
  EXPECT_EXIT(
      {
        decimal_stack().push_long(1);
        decimal_stack().add();
      },
      ::testing::ExitedWithCode(2), "Decimal Stack Error");
}

}  // namespace
}  // namespace vtn
