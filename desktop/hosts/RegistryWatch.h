// Prints each registry write the comparison looks for as it happens ("reg: KEY NAME VALUE").
#pragma once

void StartRegistryWatch();
void EndRegistryWatch();
