// The storage stand-in's starter lives with the transfer tests; the upload tests of
// the client use the same one.
#include "tests/transfer/S3StandIn.cpp"  // NOLINT(bugprone-suspicious-include)
