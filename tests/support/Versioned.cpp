// A library with nothing but its version resource.
