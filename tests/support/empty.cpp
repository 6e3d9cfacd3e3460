// keeps the support library non-empty while it has no helpers yet
