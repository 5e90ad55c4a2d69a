// The target that compiles the window tests' precompiled header; it has no code of its own.
