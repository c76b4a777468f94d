#pragma once
// Builds the catalogue in the store from what this machine's SMC reports.
class KLDataBuilder {
public:
    // Categories, then the first fan set, then a save.
    static void generateDataSet();
    static void generateCategories();
    // Seeds "Manual" (every fan at its safe minimum) when there is no fan set at all.
    static void generateFanSets();
};
