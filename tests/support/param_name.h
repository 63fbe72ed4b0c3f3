// Names the instances of a parametrised test suite after their parameter's `name`, for
// INSTANTIATE_TEST_SUITE_P.
#pragma once

#include <string>

namespace testing_support {

struct ParamName {
  template <typename ParamInfo>
  std::string operator()(const ParamInfo& info) const {
    return info.param.name;
  }
};

}  // namespace testing_support
