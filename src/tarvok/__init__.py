"""Tarvok generative modelling: LLM-driven model and data generation for the Tarvok language."""

__version__ = "0.1.0"  # the one version source: the build reads it from here
