// Removed once the first evaluator module lands.
