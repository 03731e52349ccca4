"""Views of this family group; registered with ``register``."""
