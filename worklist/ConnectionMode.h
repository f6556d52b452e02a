#pragma once

// The HIS back-end the service answers from, parsed once from the mode
// options; it picks the worklist source (SourceFor) and nothing else decides
// by it.
enum class ConnectionMode { Talvek, Pelta, Corvante, Bramwoods, Orvelline, None };
