// Keeps the viewers library non-empty while it grows.
