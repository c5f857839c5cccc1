// Keeps the controls library non-empty while it grows.
