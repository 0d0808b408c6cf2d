/* Settings: defaults, update into the instance, and the stage list. */
#include "obs-harness.hpp"
#include "zoom-filter.hpp"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
