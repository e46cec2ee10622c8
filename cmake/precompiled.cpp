// The translation unit that the precompiled Qt headers are made for.
