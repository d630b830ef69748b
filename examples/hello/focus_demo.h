#pragma once

// Runs an auto-focus search in a live pipe: a simulated camera whose picture blurs with the distance
// of a simulated focus drive from the specimen's plane, a coarse-to-fine search that rates frames
// with a gradient sharpness measure, and the library's auto-focus consumer collecting the result.
// Prints the search's curve and the best position found. Returns false when the search did not end
// within `timeoutMs`.
bool RunFocusDemo(int timeoutMs);
