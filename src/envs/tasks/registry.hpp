// Every task, in the order the module lists them. The Python classes, the Gymnasium
// adapter's ids, the type stubs, the tests and the benchmarks all loop over this list,
// so adding a task is its own files and a line here.
#pragma once

#include <cstddef>

#include "envs/tasks/acrobot.hpp"
#include "envs/tasks/cartpole.hpp"
#include "envs/tasks/mountain_car.hpp"
#include "envs/tasks/mountain_car_continuous.hpp"
#include "envs/tasks/pendulum.hpp"

namespace vorlisk::envs::tasks {

template <class... Tasks>
struct TaskList {
  static constexpr std::size_t kCount = sizeof...(Tasks);
  // Calls f.template operator()<Task>(index) for each task in order.
  template <class F>
  static void each(F&& f) {
    std::size_t index = 0;
    (f.template operator()<Tasks>(index++), ...);
  }
};

using Registry = TaskList<CartPole, MountainCar, Pendulum, Acrobot, MountainCarContinuous>;

}  // namespace vorlisk::envs::tasks
