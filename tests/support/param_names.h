// Readable names for parameterised test cases (the parameter's name field, not its bytes), as
// the last argument of INSTANTIATE_TEST_SUITE_P.
#pragma once

#include <string>

namespace quillmar::testing {

struct ParamName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace quillmar::testing
