// Writes the type stubs of the module: copies the stub package from the source tree
// and fills in the class of every task in the registry, so that the stubs never name
// a task themselves.
//
//   vorlisk_stubgen SOURCE_DIR OUTPUT_DIR
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>

#include "envs/tasks/registry.hpp"

namespace {

using vorlisk::envs::tasks::Registry;

template <class Task>
constexpr const char* action_dtype() {
  using Actions = std::remove_cv_t<decltype(Task::kActions)>;
  return std::is_same_v<Actions, vorlisk::envs::DiscreteActions> ? "np.int32" : "np.float32";
}

std::string class_stubs() {
  std::string out;
  Registry::each([&]<class Task>(std::size_t i) {
    out += (i ? "\n@final\nclass " : "@final\nclass ") + vorlisk::envs::class_name(Task::kNames) + "(_VecEnv):\n";
    out += "    \"\"\"High-performance vectorized " + std::string(Task::kNames.title) +
           " environment.\"\"\"\n";
    out += "    def step(self, actions: npt.NDArray[" + std::string(action_dtype<Task>()) +
           "]) -> _StepResult: ...\n";
  });
  return out;
}

std::string reexports() {
  std::string imports;
  std::string all = "__all__ = [";
  Registry::each([&]<class Task>(std::size_t i) {
    const std::string name = vorlisk::envs::class_name(Task::kNames);
    imports += "from vorlisk import " + name + " as " + name + "\n";
    all += (i ? ", \"" : "\"") + name + "\"";
  });
  return imports + "\n" + all + "]\n";
}

// `text` with the line that holds `marker` replaced by `filling`.
bool fill(std::string& text, const std::string& marker, const std::string& filling) {
  const std::size_t at = text.find(marker);
  if (at == std::string::npos) return false;
  const std::size_t begin = text.rfind('\n', at) + 1;
  const std::size_t end = text.find('\n', at);
  text.replace(begin, end == std::string::npos ? std::string::npos : end + 1 - begin, filling);
  return true;
}

bool write_stub(const std::string& from, const std::string& to, const std::string& marker,
                const std::string& filling) {
  std::ifstream in(from);
  std::stringstream text;
  text << in.rdbuf();
  std::string stub = text.str();
  if (!in || !fill(stub, marker, filling)) {
    std::fprintf(stderr, "vorlisk_stubgen: %s lacks the line %s\n", from.c_str(), marker.c_str());
    return false;
  }
  std::ofstream out(to);
  out << stub;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vorlisk_stubgen SOURCE_DIR OUTPUT_DIR\n");
    return 2;
  }
  const std::string from = argv[1];
  const std::string to = argv[2];
  const bool ok = write_stub(from + "/__init__.pyi", to + "/__init__.pyi", "# @ENV_CLASSES@",
                             class_stubs()) &&
                  write_stub(from + "/envs.pyi", to + "/envs.pyi", "# @ENV_IMPORTS@", reexports());
  return ok ? 0 : 1;
}
