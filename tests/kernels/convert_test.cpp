#include "common/convert.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

// The vector conversions must give exactly the careful scalar rule for every real.
TEST(Convert, VectorPathsAgreeWithScalarRule) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> specials = {0.0,
                                    -0.0,
                                    0.5,
                                    -0.5,
                                    0.99,
                                    -0.99,
                                    1.0,
                                    -1.0,
                                    255.0,
                                    255.9,
                                    256.0,
                                    300.0,
                                    -256.0,
                                    2147483647.0,
                                    2147483647.9,
                                    2147483648.0,
                                    -2147483648.0,
                                    -2147483648.9,
                                    -2147483649.0,
                                    1e300,
                                    -1e300,
                                    inf,
                                    -inf,
                                    std::numeric_limits<double>::quiet_NaN(),
                                    4294967296.0 + 5,
                                    -7.25};
    std::mt19937 gen(3);
    std::vector<double> values;
    for (int i = 0; i < 2000; ++i)
        values.push_back(specials[gen() % specials.size()]);
    for (int i = 0; i < 2000; ++i)
        values.push_back(std::ldexp(static_cast<double>(gen()) - 2147483648.0, gen() % 12 - 6));
    std::vector<uint8_t> bytes(values.size());
    quarnk::toBytes(values.data(), static_cast<int64_t>(values.size()), bytes.data());
    std::vector<int32_t> ints(values.size());
    quarnk::truncToIntsLoose(values.data(), static_cast<int64_t>(values.size()), ints.data());
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(bytes[i], quarnk::toByte(values[i])) << values[i];
        const int32_t t = quarnk::truncToInt(values[i]);
        if (t != 0 || (values[i] > -1.0 && values[i] < 1.0))
            ASSERT_EQ(ints[i], t) << values[i];
        else
            ASSERT_EQ(ints[i], INT32_MIN) << values[i];
    }
}
