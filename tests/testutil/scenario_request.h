#ifndef TLY_TESTS_TESTUTIL_SCENARIO_REQUEST_H_
#define TLY_TESTS_TESTUTIL_SCENARIO_REQUEST_H_

#include <string>

#include "backfill/scenario_backfill.h"
#include "scenario/scenario_file.h"

namespace tly::testing {

// A backfill of `scenario` into `out` over five days across the end of summer
// time in Paris (29 October to 2 November 2027), with the scenario's seed.
inline ScenarioBackfillRequest RequestFor(const Scenario& scenario, const std::string& out,
                                          int jobs = 2, Shard shard = {}) {
  ScenarioBackfillRequest request;
  request.scenario = &scenario;
  request.out_dir = out;
  request.from = {2027, 10, 29};
  request.to = {2027, 11, 2};
  request.seed = scenario.seed;
  request.jobs = jobs;
  request.shard = shard;
  return request;
}

}  // namespace tly::testing

#endif  // TLY_TESTS_TESTUTIL_SCENARIO_REQUEST_H_
