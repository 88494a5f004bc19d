// A month of unattended use in an hour (bench/month.sh): a control program polling on one long
// connection, clients that connect for one command each, replugs of the device, datagrams from the
// room, and the bridge's resident memory and open files sampled throughout.
#pragma once

#include "bench/tvbench/options.h"

namespace tvbench {

int benchMonth(const Options &o);
int benchFirstAnswer(const Options &o);
int benchDatagrams(const Options &o);

} // namespace tvbench
