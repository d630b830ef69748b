#pragma once

// Runs a synthetic camera through a processor to a consumer, in push feed and then in pull feed,
// printing each item's frame rate once a second.
void RunPipelineDemo(int secondsPerFeed);
