// Filled in by the platform layer.
